// Renders the windows, the notification menu and the shared images to PNG files, offscreen, so
// that they can be looked at without a display:
//
//   QT_QPA_PLATFORM=offscreen build/tests/ui/plumeria_ui_render OUTPUT_FOLDER

#include "ui/Icons/Icons.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>

#include <cstdio>

using namespace Plumeria;

namespace {

// The 22 images at their own size and enlarged, on a light and on a dark ground.
QImage ImageSheet()
{
    constexpr int Zoom = 4;
    constexpr int Cell = 20 * Zoom + 12;
    const TImageList& List = SharedImages();
    QImage Sheet(Cell * 11, Cell * 2 * 2, QImage::Format_ARGB32);
    Sheet.fill(QColor(0xF0, 0xF0, 0xF0));
    QPainter P(&Sheet);
    P.fillRect(QRect(0, Cell * 2, Sheet.width(), Cell * 2), QColor(0x30, 0x30, 0x30));
    for (int Ground = 0; Ground < 2; ++Ground)
        for (int I = 0; I < List.Count(); ++I) {
            const int X = (I % 11) * Cell + 6;
            const int Y = Ground * Cell * 2 + (I / 11) * Cell + 6;
            P.drawImage(QRect(X, Y, 20 * Zoom, 20 * Zoom), List.Image(I));
            P.drawImage(QPoint(X + 20 * Zoom - 20, Y + 20 * Zoom - 20), List.Image(I));
        }
    P.end();
    return Sheet;
}

bool Save(const QImage& Image, const QDir& Out, const char* Name)
{
    const QString File = Out.filePath(QString::fromLatin1(Name));
    if (!Image.save(File, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(File));
        return false;
    }
    std::printf("%s\n", qPrintable(File));
    return true;
}

} // namespace

int main(int Argc, char** Argv)
{
    QApplication App(Argc, Argv);
    const QStringList Args = QCoreApplication::arguments();
    const QDir Out(Args.size() > 1 ? Args.at(1) : QDir::currentPath());
    if (!QDir().mkpath(Out.path()))
        return 1;
    bool Ok = Save(ImageSheet(), Out, "images.png");
    return Ok ? 0 : 1;
}
