// A drag source for tests on a real X server: norvex_dragsource PATH... shows a small window; a press
// on it starts a drag of the paths as text/uri-list, their bytes percent-encoded as file managers send
// them (names that are not UTF-8 included). The drop target is whatever window the pointer leaves it on.
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>

namespace {

class TDragSource : public QLabel {
public:
    explicit TDragSource(QByteArray uris) : QLabel("drag me"), uris_(std::move(uris)) {
        setObjectName("dragSource");
        setWindowTitle("norvex-drag-source");
        resize(160, 80);
    }

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* mime = new QMimeData;
        mime->setData("text/uri-list", uris_);
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        drag->exec(Qt::CopyAction);
    }

private:
    QByteArray uris_;
};

}  // namespace

int main(int argc, char* argv[]) {
    QByteArray uris;
    for (int i = 1; i < argc; ++i) uris += "file://" + QByteArray(argv[i]).toPercentEncoding("/") + "\r\n";
    QApplication app(argc, argv);
    TDragSource source(uris);
    source.move(0, 0);
    source.show();
    return app.exec();
}
