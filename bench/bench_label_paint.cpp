// Painting the label designer's drawing area with all 59 fields present (frames with thick pens,
// barcode stripes, turned captions), at the window's designed size and on a large screen, into
// the same kind of raster surface the window paints on. A frame at 60 Hz is 16.7 ms.
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_label_paint

#include "BenchSupport.h"

#include "core/LabelGeom/LabelGeom.h"
#include "platform/Environment.h"
#include "ui/Common/FolderPicker.h"
#include "ui/LabelForm/LabelForm.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

using namespace Plumeria;
using namespace Plumeria::Bench;

namespace {

constexpr int Rounds = 1000;

// Every field of the table on one label, spread over it, a few of them turned.
bool WriteFullLabel(const std::filesystem::path& File)
{
    TDigiLabelDoc Doc;
    std::string Error;
    if (!Doc.CreateEmpty(File, 432, 296, Error))
        return false;
    for (int Slot = 0; Slot < SlotCount(); ++Slot) {
        Doc.PlaceDefault(0, Slot, (Slot % 8) * 52 + 4, (Slot / 8) * 36 + 4);
        if (Slot % 7 == 3)
            Doc.PutWord(0, GetSlot(Slot).Offset + 4, 0x4070);
    }
    for (int Slot = 0; Slot < SlotCount(); ++Slot)
        if (GetSlot(Slot).Kind == TDigiFieldKind::dfBevel)
            Doc.PutWord(0, GetSlot(Slot).Offset + 10, 10);
    return Doc.Save(Error);
}

void Measure(TfrmLabel& Form, QSize Area)
{
    QImage Surface(Area, QImage::Format_ARGB32_Premultiplied);
    std::vector<double> Times;
    Times.reserve(Rounds);
    // The machine may be shared: processor time per paint is told apart from the wall clock.
    const std::clock_t CpuStart = std::clock();
    for (int I = 0; I < Rounds; ++I) {
        const auto Start = Clock::now();
        QPainter P(&Surface);
        Form.PaintLabel(P, Area);
        P.end();
        Times.push_back(Ms(Clock::now() - Start));
    }
    const double CpuMs = 1000.0 * double(std::clock() - CpuStart) / CLOCKS_PER_SEC / Rounds;
    const double Total = [&] {
        double Sum = 0;
        for (const double T : Times)
            Sum += T;
        return Sum;
    }();
    std::printf("paint 59 fields, area %4d x %4d px, scale %.2f: median %.3f ms, mean %.3f ms, "
                "min %.3f ms, max %.3f ms; processor %.3f ms per paint (%d paints)\n",
                Area.width(), Area.height(), Form.CanvasScale(), Median(Times), Total / Rounds,
                *std::min_element(Times.begin(), Times.end()),
                *std::max_element(Times.begin(), Times.end()), CpuMs, Rounds);
}

} // namespace

int main(int Argc, char** Argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(Argc, Argv);
    const std::filesystem::path Folder = MakeFolder("label-paint");
    if (!WriteFullLabel(Folder / "f34.dat")) {
        std::fprintf(stderr, "cannot write the label\n");
        return 1;
    }
    TfrmLabel Form;
    PresetFolderAnswer(QString::fromStdString(PathToUtf8(Folder)));
    Form.findChild<QPushButton*>(QStringLiteral("btnOpen"))->click();
    int Present = 0;
    for (int Slot = 0; Form.Document() && Slot < SlotCount(); ++Slot)
        Present += Form.Document()->Occupied(Form.CurrentFormat(), Slot);
    if (Present != SlotCount()) {
        std::fprintf(stderr, "the label did not open with every field\n");
        return 1;
    }
    Measure(Form, QSize(630, 608));   // the drawing area of the 1100 x 700 window
    Measure(Form, QSize(1670, 1000)); // a maximised window on a large screen
    std::filesystem::remove_all(Folder);
    return 0;
}
