#include "UiSandbox.h"

#include "core/Journal/Journal.h"
#include "platform/Autostart.h"
#include "platform/Environment.h"
#include "ui/Common/Desktop.h"
#include "ui/Common/GridLines.h"

#include <QAbstractScrollArea>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QWidget>

#include <algorithm>

namespace Plumeria::Test {

TUiSandbox::TUiSandbox()
    : FConfigHome("XDG_CONFIG_HOME", PathToUtf8(FSession.Path() / "config")),
      FRuntimeDir("XDG_RUNTIME_DIR", PathToUtf8(FSession.Path() / "run"))
{
    std::filesystem::create_directories(FSession.Path() / "config");
    std::filesystem::create_directories(FSession.Path() / "run");
    SetDefaultHandlerForTests([this](const QUrl& Url) {
        Opened.push_back(Url);
        return !NoHandlerAtAll &&
               !(NoHandlerForJournal && Url.toLocalFile().endsWith(QStringLiteral(".log")));
    });
#ifdef _WIN32
    FOwnAutostart = ReadAutostartCommand();
    RemoveAutostartEntry();
#endif
}

QString ShownTitle(const QWidget& Window)
{
    // Without a display name of its own the application reports its name as the display name,
    // and nothing is appended.
    const QString Display = QGuiApplication::applicationDisplayName();
    const QString Title = Window.windowTitle();
    if (Display == QCoreApplication::applicationName())
        return Title.isEmpty() ? Display : Title;
    if (Title.endsWith(Display))
        return Title;
    return Title.isEmpty() ? Display : Title + QStringLiteral(" - ") + Display;
}

TUiSandbox::~TUiSandbox()
{
    SetDefaultHandlerForTests({});
#ifdef _WIN32
    RemoveAutostartEntry();
    if (FOwnAutostart) {
        std::string Executable = *FOwnAutostart;
        std::erase(Executable, '"');
        WriteAutostartEntry(PathFromUtf8(Executable));
    }
#endif
}

TMainOptions TUiSandbox::Options(bool TrayAvailable)
{
    TMainOptions Options;
    Options.TrayAvailable = TrayAvailable;
    Options.CheckForUpdate = [this](bool AutoUpdate) {
        UpdateChecks.push_back(AutoUpdate);
        StartedBeforeCheck.push_back(JournalText().find("| INFO | started 1.0.3") !=
                                     std::string::npos);
        return UpdateTookOver;
    };
    return Options;
}

std::filesystem::path TUiSandbox::Folder(const std::string& Name) const
{
    const auto Path = FSession.Path() / PathFromUtf8(Name);
    std::filesystem::create_directories(Path);
    return Path;
}

bool DrawsGridLines(QTreeWidget* List, QTreeWidgetItem* Item, int Column)
{
    const QColor Grid = GridLineColor(List);
    if (Grid == List->palette().color(QPalette::Base))
        return false;
    // Only what is on screen counts: the cell is scrolled into view first, its right edge
    // (where the side line is) before its left one, since the width of a column follows the
    // machine's faces and may pass the list's own.
    List->scrollToItem(Item);
    const int Width = List->viewport()->width();
    QScrollBar* Bar = List->horizontalScrollBar();
    const int Start = List->header()->sectionPosition(Column);
    const int End = Start + List->header()->sectionSize(Column);
    if (Start < Bar->value())
        Bar->setValue(Start);
    if (End - Bar->value() > Width)
        Bar->setValue(End - Width);
    const QImage Shot = List->viewport()->grab().toImage();
    const QRect Cell = List->visualItemRect(Item);
    const int Left = std::max(List->header()->sectionViewportPosition(Column), 0);
    const int Right =
        List->header()->sectionViewportPosition(Column) + List->header()->sectionSize(Column) - 1;
    if (Right >= Width || Cell.bottom() >= List->viewport()->height())
        return false; // cannot be brought into sight
    // grab() renders at the device pixel ratio; offscreen it is 1.
    const QColor Bottom = Shot.pixelColor((Left + Right) / 2, Cell.bottom());
    const QColor Side = Shot.pixelColor(Right, Cell.center().y());
    return Bottom.rgb() == Grid.rgb() && Side.rgb() == Grid.rgb();
}

void TypeText(QLineEdit* Edit, const QString& Text)
{
    Edit->clear();
    bool Ascii = true;
    for (const QChar C : Text)
        Ascii = Ascii && C.unicode() < 0x80;
    if (Ascii)
        QTest::keyClicks(Edit, Text);
    else
        Edit->insert(Text);
}

namespace {

QString Describe(const QWidget* Control)
{
    return Control->objectName().isEmpty() ? QString::fromLatin1(Control->metaObject()->className())
                                           : Control->objectName();
}

// Width a caption needs: its text, its image and the frame around them.
int CaptionNeed(const QWidget* Control)
{
    if (const auto* Label = qobject_cast<const QLabel*>(Control))
        return Label->wordWrap() || Label->text().isEmpty() ? 0 : Label->sizeHint().width();
    if (const auto* Check = qobject_cast<const QCheckBox*>(Control))
        return Check->sizeHint().width();
    if (const auto* Button = qobject_cast<const QPushButton*>(Control)) {
        const int Image = Button->icon().isNull() ? 0 : Button->iconSize().width() + 4;
        return Button->fontMetrics().horizontalAdvance(Button->text()) + Image + 8;
    }
    return 0;
}

QString ChildFault(const QWidget& Parent)
{
    QList<const QWidget*> Shown;
    for (const QObject* Child : Parent.children())
        if (const auto* Control = qobject_cast<const QWidget*>(Child);
            Control && !Control->isWindow() && Control->isVisible())
            Shown << Control;
    for (qsizetype A = 0; A < Shown.size(); ++A) {
        const QRect Box = Shown[A]->geometry();
        if (!Parent.rect().contains(Box))
            return Describe(Shown[A]) + QStringLiteral(" outside ") + Describe(&Parent);
        if (CaptionNeed(Shown[A]) > Box.width())
            return Describe(Shown[A]) + QStringLiteral(" clips its caption");
        if (const auto* Label = qobject_cast<const QLabel*>(Shown[A]);
            Label && Box.height() < Label->fontMetrics().height())
            return Describe(Shown[A]) + QStringLiteral(" lower than its text");
        // A text field centres its line on the box of the text's glyphs: a face whose glyphs
        // claim more height than the field has draws the text out of sight.
        if (const auto* Edit = qobject_cast<const QLineEdit*>(Shown[A]);
            Edit && Edit->fontMetrics().boundingRect(QStringLiteral("Обмен 123 *.csv")).height() >
                        Edit->contentsRect().height())
            return Describe(Shown[A]) + QStringLiteral(" draws its text out of sight");
        for (qsizetype B = A + 1; B < Shown.size(); ++B)
            if (Box.intersects(Shown[B]->geometry()))
                return Describe(Shown[A]) + QStringLiteral(" overlaps ") + Describe(Shown[B]);
        const QString Inner = ChildFault(*Shown[A]);
        if (!Inner.isEmpty() && !qobject_cast<const QAbstractScrollArea*>(Shown[A]) &&
            !qobject_cast<const QComboBox*>(Shown[A]))
            return Inner;
    }
    return {};
}

} // namespace

QString LayoutFault(const QWidget& Window)
{
    return ChildFault(Window);
}

std::string JournalText()
{
    return ReadFileBytes(LogFilePath());
}

TScaleConfig MakeScale(const char* Name, const char* Host, int Port, TScaleKind Kind,
                       const char* Model, const char* Mask)
{
    TScaleConfig Config;
    Config.Enabled = true;
    Config.Name = Name;
    Config.Host = Host;
    Config.Port = Port;
    Config.Kind = Kind;
    Config.Model = Model;
    Config.FileMask = Mask;
    return Config;
}

TScaleProgress Part(const char* Host, int Port, const char* Name, std::size_t Sent,
                    std::size_t Total)
{
    TScaleProgress Scale;
    Scale.Host = Host;
    Scale.Port = Port;
    Scale.Name = Name;
    Scale.Sent = Sent;
    Scale.Total = Total;
    return Scale;
}

} // namespace Plumeria::Test
