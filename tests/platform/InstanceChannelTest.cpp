// The hand-over between two starts: the wire format, relative paths, and the sender against a socket
// nobody answers on.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "platform/InstanceChannel.h"
#include "platform/InstanceLock.h"
#include "tests/support/TempDir.h"

using namespace norvex;

TEST(InstanceChannel, MessagesSurviveTheWireByteForByte) {
    const THandOver cases[] = {
        {"/home/user", {}},
        {"", {"-d", "/a b/\"x\".zip", std::string("/d/\x8E\x91\x97\xBF.lzh"), ""}},
        {"/\x83\x5C", {std::string(70000, 'x'), std::string("\0\r\n\x1B", 4)}},
    };
    for (const THandOver& m : cases) {
        const std::string bytes = EncodeHandOver(m);
        THandOver back;
        ASSERT_EQ(DecodeHandOver(bytes, back), TDecode::Complete);
        EXPECT_EQ(back, m);
        // Every proper prefix is incomplete, never a different message.
        for (std::size_t cut : {std::size_t(0), std::size_t(3), std::size_t(8), bytes.size() / 2, bytes.size() - 1}) {
            THandOver partial;
            EXPECT_EQ(DecodeHandOver(bytes.substr(0, cut), partial), TDecode::Incomplete) << cut;
        }
        EXPECT_EQ(DecodeHandOver(bytes + "x", back), TDecode::Invalid);
    }
    THandOver out;
    EXPECT_EQ(DecodeHandOver("GET / HTTP/1.0\r\n", out), TDecode::Invalid);
    // A count or a length beyond the caps is refused at once, before anything is held.
    EXPECT_EQ(DecodeHandOver(std::string("NVX1\xFF\xFF\xFF\xFF", 8), out), TDecode::Invalid);
    EXPECT_EQ(DecodeHandOver(std::string("NVX1\x01\0\0\0\xFF\xFF\xFF\x7F", 12), out), TDecode::Invalid);
}

TEST(InstanceChannel, RelativeArgumentsAreResolvedForTheReceiver) {
    using V = std::vector<std::string>;
    EXPECT_EQ(AbsoluteArguments({"-d", "a.zip", "/abs/b.zip", "-k"}, "/home/u"),
              (V{"-d", "/home/u/a.zip", "/abs/b.zip", "/home/u/-k"}));
    EXPECT_EQ(AbsoluteArguments({"-D", "sub/c.lzh"}, "/"), (V{"/-D", "/sub/c.lzh"}));
    EXPECT_EQ(AbsoluteArguments({"x.zip"}, ""), (V{"x.zip"}));
}

TEST(InstanceChannel, NobodyListeningIsNoAnswerAndAHeldLockIsTakenOver) {
    test::TempDir runtime;
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const std::string path = InstanceSocketPath("NorvexTest");
    EXPECT_EQ(path, runtime.path() + "/NorvexTest.socket");
    EXPECT_EQ(SendHandOver(path, {"/", {"a"}}, 500), TSendResult::NoAnswer);

    // A socket file whose listener accepts but never answers: the sender gives up in time.
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendHandOver(path, {"/", {"a"}}, 300), TSendResult::NoAnswer);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    close(listener);

    {
        TInstanceLock held("NorvexTest");
        ASSERT_TRUE(held.Acquired());
        std::unique_ptr<TInstanceLock> lock;
        EXPECT_EQ(TakeInstanceOrHandOver("NorvexTest", {"/", {}}, 300, lock), TStartRole::TakenOver);
        EXPECT_FALSE(lock);
    }
    std::unique_ptr<TInstanceLock> lock;
    EXPECT_EQ(TakeInstanceOrHandOver("NorvexTest", {"/", {}}, 300, lock), TStartRole::Primary);
    EXPECT_TRUE(lock && lock->Acquired());
    if (saved) setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    else unsetenv("XDG_RUNTIME_DIR");
}
