#pragma once
// The label designer: a modal window that opens the DIGI label file `f34.dat` of a folder or
// creates a new one, shows one of its label formats to scale, adds, moves, resizes and deletes
// label fields, edits their attributes, saves the file and sends the folder's label files to DIGI
// scales. All knowledge of the file lives in the label document; this window only shows it and
// hands the user's changes to it.
//
// The window is written in three parts: the window with its lists and commands (LabelForm.cpp,
// LabelCommands.cpp), the drawing area with its mouse and keys (LabelCanvas.cpp) and the property
// panel on the right (LabelProps.cpp).

#include <QDialog>
#include <QFont>
#include <QWidget>

#include <memory>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPainter;
class QPushButton;

namespace Plumeria {

class TDigiLabelDoc;
class TLoaderSettings;
struct TSlotBox;
class TfrmLabel;

/// The designer's face ("Segoe UI" where the machine has it) at a pixel height.
QFont LabelFont(int PixelSize);

/// The drawing area `box`: paints through the window and hands it the mouse.
class TLabelBox : public QWidget
{
    Q_OBJECT

public:
    TLabelBox(TfrmLabel& Form, QWidget* Parent);

protected:
    void paintEvent(QPaintEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;

private:
    TfrmLabel& FForm;
};

/// What a point of the drawing area hits: a slot index (-1 for none) and whether the point lies
/// on that field's resize handle.
struct TLabelHit
{
    int Slot = -1;
    bool Handle = false;
};

class TfrmLabel : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmLabel(QWidget* Parent = nullptr);
    ~TfrmLabel() override;

    /// Works with `Settings` (borrowed; may be null) and shows the window modally until it is
    /// closed.
    void Execute(TLoaderSettings* Settings);
    /// The settings the upload takes its scales from, without showing the window (tests, and
    /// `Execute`).
    void SetSettings(TLoaderSettings* Settings) { FSettings = Settings; }

    /// Shows the document, format, selection and fields as they are now.
    void RefreshAll();
    /// Deletes the selected field of the current format.
    void DeleteClick();

    /// Paints the current format into an area of `Area` pixels (the drawing area's paint, and
    /// tests that look at the pixels).
    void PaintLabel(QPainter& Painter, QSize Area);
    /// The field under a pixel of the drawing area, the last slot first.
    TLabelHit HitTest(int X, int Y) const;

    TDigiLabelDoc* Document() const { return FDoc.get(); }
    int CurrentFormat() const { return FFormat; }
    int Selected() const { return FSelected; }
    double CanvasScale() const { return FScale; }
    QMenu* AddMenu() const { return FAddMenu; }

    // Mouse on the drawing area (pixel positions of `box`).
    void CanvasMouseDown(Qt::MouseButton Button, QPoint Position);
    void CanvasMouseMove(QPoint Position);
    void CanvasMouseUp();

public Q_SLOTS:
    /// Closing is allowed only when the unsaved changes were dealt with.
    void reject() override;

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override;
    void keyPressEvent(QKeyEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    // The window: controls, lists, status (LabelForm.cpp).
    void CreateControls();
    void CreateTopPanel(QWidget* Panel);
    void CreateBottomPanel(QWidget* Panel);
    void FormCreate();
    void SetStatus(const QString& Text);
    void ReadLabelSize();
    void FillFormats();
    void FillFields();
    void FieldsClick();
    void FormatChange();
    void AddClick();
    void AddItemClick(int SlotIndex);
    int FirstFormatWithId(unsigned Id) const;

    // Commands (LabelCommands.cpp).
    bool DoSave();
    bool ConfirmSave();
    void OpenClick();
    void NewClick();
    void UploadClick();
    void ReplaceDocument(std::unique_ptr<TDigiLabelDoc> Doc);
    /// Takes over every edit of the panel that holds a typed, unconfirmed value (only the
    /// position and size edits when `AllEdits` is false); the first edit whose value was refused,
    /// or null.
    QLineEdit* ApplyPendingEdits(bool AllEdits);

    // Drawing area and keys (LabelCanvas.cpp).
    int ToPixels(double Dots) const;
    QRect FieldRect(int SlotIndex, bool WithDrag) const;
    TSlotBox DraggedBox() const;
    bool FormKeyDown(const QObject* Receiver, int Key, Qt::KeyboardModifiers Modifiers);

    // Property panel (LabelProps.cpp).
    void CreatePropertyPanel(QWidget* Panel);
    void ShowProperties();
    void ApplyEdit(QLineEdit* Edit);
    void ApplyPosition(QLineEdit* Edit, int Value);
    void ApplySize(QLineEdit* Edit, int Value);
    void ComboChange(QComboBox* List);
    void CheckClick(QCheckBox* Box);
    void MarkRefused(QLineEdit* Edit, bool Refused);
    bool SelectedPresent() const;

    std::unique_ptr<TDigiLabelDoc> FDoc;
    int FFormat = 0;
    int FSelected = -1;
    int FWidthDots = 432;
    int FHeightDots = 296;
    double FScale = 1.0;
    int FMargin = 16;
    int FDrag = 0;
    int FDownX = 0;
    int FDownY = 0;
    int FOrigX = 0;
    int FOrigY = 0;
    int FOrigW = 0;
    int FOrigH = 0;
    int FDragDx = 0;
    int FDragDy = 0;
    bool FLoading = false;
    int FShownX = 0;
    int FShownY = 0;
    int FShownW = 0;
    int FShownH = 0;
    int FShownThick = 0;
    int FShownSym = 0;
    int FShownNum = 0;
    TLoaderSettings* FSettings = nullptr;

    QWidget* pnlTop = nullptr;
    QWidget* pnlBottom = nullptr;
    QWidget* pnlLeft = nullptr;
    QWidget* pnlRight = nullptr;
    QWidget* pnlCanvas = nullptr;
    QPushButton* btnOpen = nullptr;
    QPushButton* btnNew = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnDelete = nullptr;
    QPushButton* btnUpload = nullptr;
    QLabel* lblFormat = nullptr;
    QComboBox* cmbFormat = nullptr;
    QListWidget* lstFields = nullptr;
    TLabelBox* box = nullptr;
    QLabel* lblStatus = nullptr;
    QLabel* lblHint = nullptr;
    QLabel* lblName = nullptr;
    QLabel* lblX = nullptr;
    QLabel* lblY = nullptr;
    QLabel* lblPrint = nullptr;
    QLabel* lblRot = nullptr;
    QLabel* lblW = nullptr;
    QLabel* lblH = nullptr;
    QLabel* lblThick = nullptr;
    QLabel* lblFont = nullptr;
    QLabel* lblSym = nullptr;
    QLabel* lblNum = nullptr;
    QLabel* lblExtra = nullptr;
    QLabel* lblLogo = nullptr;
    QLabel* lblRefused = nullptr;
    QLineEdit* FRefusedEdit = nullptr;
    std::vector<std::pair<QLineEdit*, QLabel*>> FUnits;
    QLineEdit* edtX = nullptr;
    QLineEdit* edtY = nullptr;
    QLineEdit* edtW = nullptr;
    QLineEdit* edtH = nullptr;
    QLineEdit* edtThick = nullptr;
    QLineEdit* edtSym = nullptr;
    QLineEdit* edtNum = nullptr;
    QComboBox* cmbPrint = nullptr;
    QComboBox* cmbRot = nullptr;
    QComboBox* cmbFont = nullptr;
    QCheckBox* chkDigits = nullptr;
    QCheckBox* chkTest = nullptr;
    QMenu* FAddMenu = nullptr;
};

} // namespace Plumeria
