// The read-ahead thread on its own, over module entries of the test's own that count what they are
// asked: when Finish or Stop returns, no listing is under way and every archive opened was closed.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "engine/ListingWarmUp.h"

using namespace norvex;

namespace {

std::atomic<int> g_opened{0}, g_closed{0}, g_entries{0};
std::atomic<int> g_length{0};  // entries of the fake archive
int g_handle = 0;

HARC FakeOpen(NvxWindow* window, const char* path, uint32_t) {
    // The warm-up's own window, never one of the run; a path it cannot open gives no handle.
    if (!window || !window->sendArcExtract || std::string(path) == "/missing") return nullptr;
    ++g_opened;
    return &g_handle;
}

int32_t FakeFindFirst(HARC, const char* wild, ArcEntryRecord*) {
    if (std::string(wild) != "*.*") return ARC_ERROR_NOT_SEARCH_MODE;
    return ++g_entries <= g_length.load() ? ARC_OK : ARC_FIND_END;
}

int32_t FakeFindNext(HARC, ArcEntryRecord*) { return ++g_entries <= g_length.load() ? ARC_OK : ARC_FIND_END; }

int32_t FakeClose(HARC) {
    ++g_closed;
    return ARC_OK;
}

TListingEntryPoints FakeEntries() {
    TListingEntryPoints e;
    e.OpenArchive = &FakeOpen;
    e.FindFirst = &FakeFindFirst;
    e.FindNext = &FakeFindNext;
    e.CloseArchive = &FakeClose;
    return e;
}

void Reset(int length) {
    g_opened = g_closed = g_entries = 0;
    g_length = length;
}

}  // namespace

TEST(ListingWarmUp, AfterFinishEachListingWasEitherWithdrawnOrReadWhole) {
    TListingWarmUp warmUp;
    for (int round = 0; round < 50; ++round) {
        Reset(2000);
        warmUp.Start(FakeEntries(), "/a.lzh", /*walk=*/true);
        warmUp.Finish();
        ASSERT_EQ(g_opened.load(), g_closed.load()) << round;
        if (g_opened.load() == 1) EXPECT_EQ(g_entries.load(), 2001) << round;  // to the end, and no further
        else EXPECT_EQ(g_entries.load(), 0) << round;
    }
    // A ZIP is only opened; a path that gives no handle is nothing to close.
    Reset(10);
    warmUp.Start(FakeEntries(), "/a.zip", /*walk=*/false);
    warmUp.Finish();
    EXPECT_EQ(g_entries.load(), 0);
    EXPECT_EQ(g_opened.load(), g_closed.load());
    Reset(10);
    warmUp.Start(FakeEntries(), "/missing", /*walk=*/true);
    warmUp.Finish();
    EXPECT_EQ(g_opened.load() + g_closed.load() + g_entries.load(), 0);
    // Entries that are not all there start nothing.
    Reset(10);
    TListingEntryPoints partial = FakeEntries();
    partial.FindNext = nullptr;
    warmUp.Start(partial, "/a.lzh", true);
    warmUp.Finish();
    EXPECT_EQ(g_opened.load(), 0);
}

TEST(ListingWarmUp, StopEndsAListingUnderWayAndTheThreadCanBeHadAgain) {
    TListingWarmUp warmUp;
    Reset(1 << 30);  // a walk that would not end by itself
    warmUp.Start(FakeEntries(), "/big.lzh", true);
    while (g_entries.load() == 0) std::this_thread::yield();
    warmUp.Stop();
    EXPECT_EQ(g_opened.load(), 1);
    EXPECT_EQ(g_closed.load(), 1);
    EXPECT_LT(g_entries.load(), 1 << 30);
    // A later run starts the thread again.
    Reset(5);
    warmUp.Start(FakeEntries(), "/b.lzh", true);
    while (g_closed.load() == 0 && g_opened.load() == 0) std::this_thread::yield();
    warmUp.Stop();
    EXPECT_EQ(g_opened.load(), g_closed.load());
}
