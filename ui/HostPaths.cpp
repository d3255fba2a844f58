// Lossless paths in the window: drops, chosen folders, remembered folders, and their display.
#include "ui/HostPaths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QComboBox>
#include <QFile>
#include <QMimeData>
#include <QStringDecoder>
#include <QUrl>

#include "engine/ShownText.h"
#include "platform/AnsiCodec.h"
#include "ui/QtAnsi.h"

namespace norvex::ui {
namespace {

constexpr int kRawPathRole = Qt::UserRole + 1;
// The path put in the edit field by the window, and the text it was shown as there.
constexpr const char* kEditPathProperty = "norvexEditPath";
constexpr const char* kEditTextProperty = "norvexEditText";
constexpr const char* kEditIndexProperty = "norvexEditIndex";

bool IsUtf8(std::string_view bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    return !decoder.hasError();
}

AnsiString AnsiFromHost(const std::string& host) {
    AnsiString out;
    TryToAnsi(host, out);
    return out;
}

bool Exists(const std::string& host) {
    struct stat st {};
    return lstat(host.c_str(), &st) == 0;
}

// The real names in folder that Qt shows as shown.
std::vector<std::string> NamesShownAs(const std::string& folder, const QString& shown) {
    std::vector<std::string> found;
    DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
    if (!dir) return found;
    while (dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (QFile::decodeName(QByteArray::fromStdString(name)) == shown) found.push_back(name);
    }
    closedir(dir);
    return found;
}

// "file:///a/b" and "file://localhost/a/b" to the path's bytes; "" for anything else.
std::string LocalPathOfUri(QByteArray uri) {
    uri = uri.trimmed();
    if (!uri.startsWith("file://")) return {};
    QByteArray rest = uri.mid(7);
    if (!rest.startsWith('/')) {
        const qsizetype slash = rest.indexOf('/');
        if (slash < 0 || rest.left(slash) != "localhost") return {};
        rest = rest.mid(slash);
    }
    if (const qsizetype cut = rest.indexOf('?'); cut >= 0) rest.truncate(cut);
    if (const qsizetype cut = rest.indexOf('#'); cut >= 0) rest.truncate(cut);
    return QByteArray::fromPercentEncoding(rest).toStdString();
}

}  // namespace

QString HostBytesToDisplay(const std::string& host) {
    // Bytes below 0x40 (ASCII punctuation, digits, "/", spaces, quotes) are never part of a cp932
    // double-byte character, so the text is cut there and each run between is read on its own.
    QString out;
    std::size_t i = 0;
    while (i < host.size()) {
        if (static_cast<unsigned char>(host[i]) < 0x40) {
            out += QLatin1Char(host[i]);
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < host.size() && static_cast<unsigned char>(host[j]) >= 0x40) ++j;
        const std::string_view run(host.data() + i, j - i);
        out += IsUtf8(run) ? QString::fromUtf8(run.data(), qsizetype(run.size()))
                           : QString::fromStdString(FromAnsi(run));
        i = j;
    }
    return out;
}

QString ToDisplay(const AnsiString& text) { return HostBytesToDisplay(FromAnsi(text)); }

QString ToShown(const AnsiString& name) { return ToDisplay(ShownName(name)); }

QString HostBytesToShown(const std::string& host) { return ToShown(AnsiFromHost(host)); }

std::vector<AnsiString> DroppedPaths(const QMimeData* mime) {
    std::vector<AnsiString> paths;
    if (!mime) return paths;
    if (mime->hasFormat("text/uri-list")) {
        for (const QByteArray& line : mime->data("text/uri-list").split('\n')) {
            if (line.trimmed().isEmpty() || line.startsWith('#')) continue;
            const std::string path = LocalPathOfUri(line);
            if (!path.empty()) paths.push_back(AnsiFromHost(path));
        }
        if (!paths.empty()) return paths;
    }
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) paths.push_back(FromQ(url.toLocalFile()));
    return paths;
}

AnsiString ChosenPath(const QString& chosen) {
    const std::string typed = chosen.toStdString();
    if (typed.empty() || typed[0] != '/' || Exists(typed)) return FromQ(chosen);
    std::string path;
    for (const QString& part : chosen.split('/', Qt::SkipEmptyParts)) {
        const std::string asTyped = path + "/" + part.toStdString();
        if (Exists(asTyped)) {
            path = asTyped;
            continue;
        }
        const std::vector<std::string> names = NamesShownAs(path, part);
        path = names.size() == 1 ? path + "/" + names.front() : asTyped;
    }
    if (chosen.endsWith('/')) path += '/';
    return AnsiFromHost(path);
}

void SetPathItem(QComboBox* combo, int index, const AnsiString& path) {
    combo->setItemText(index, ToShown(path));
    combo->setItemData(index, QByteArray::fromStdString(path), kRawPathRole);
}

void InsertPathItem(QComboBox* combo, int index, const AnsiString& path) {
    combo->insertItem(index, ToShown(path));
    combo->setItemData(index, QByteArray::fromStdString(path), kRawPathRole);
}

void SetPathEditText(QComboBox* combo, const AnsiString& path) {
    const QString shown = ToShown(path);
    combo->setProperty(kEditPathProperty, QByteArray::fromStdString(path));
    combo->setProperty(kEditTextProperty, shown);
    combo->setProperty(kEditIndexProperty, combo->currentIndex());
    combo->setEditText(shown);
}

AnsiString ComboPath(const QComboBox* combo, const QString& text) {
    // A line chosen since the window put its path in the field comes first: two paths may show
    // alike ("a\x0db" named so, and "a", CR, "b").
    const int current = combo->currentIndex();
    const bool chosen = current != combo->property(kEditIndexProperty).toInt();
    if (chosen && current >= 0 && combo->itemText(current) == text) return ComboItemPath(combo, current);
    if (!text.isEmpty() && combo->property(kEditTextProperty).toString() == text)
        return combo->property(kEditPathProperty).toByteArray().toStdString();
    for (int i = 0; i < combo->count(); ++i)
        if (combo->itemText(i) == text) return ComboItemPath(combo, i);
    return FromQ(text);
}

AnsiString ComboItemPath(const QComboBox* combo, int index) {
    const QVariant raw = combo->itemData(index, kRawPathRole);
    return raw.isValid() ? raw.toByteArray().toStdString() : FromQ(combo->itemText(index));
}

QString DesktopTarget(const AnsiString& path) {
    const std::string host = FromAnsi(path);
    if (IsUtf8(host)) return QString::fromStdString(host);
    return "file://" + QString::fromLatin1(QByteArray::fromStdString(host).toPercentEncoding("/"));
}

}  // namespace norvex::ui
