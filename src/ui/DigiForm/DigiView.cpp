// The DIGI scale dialog's controls: names, captions, images, hints and their designed places.

#include "ui/DigiForm/DigiForm.h"

#include "ui/Common/Controls.h"
#include "ui/Common/Fonts.h"
#include "ui/Icons/Icons.h"
#include "ui/UiText/UiText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <algorithm>

namespace Plumeria {

namespace {

constexpr int DialogWidth = 560;
constexpr int DialogHeight = 408;
constexpr int RightEdge = 544;
constexpr int ButtonGap = 8;

} // namespace

void TfrmDigi::CreateControls()
{
    setObjectName(QStringLiteral("frmDigi"));
    setFont(InterfaceFont());

    btnSearch = PlainButton(this, "btnSearch", UiSearch(), siSearch);
    lblStatus = Named(new QLabel(this), "lblStatus");
    btnHelp = HelpButton(this, "btnHelp", UiScalesDigi(), QStringLiteral("digi.html"));
    lbFound = Named(new QListWidget(this), "lbFound");
    lblName = Named(new QLabel(this), "lblName");
    edtName = Named(new QLineEdit(this), "edtName");
    lblHost = Named(new QLabel(this), "lblHost");
    edtHost = Named(new QLineEdit(this), "edtHost");
    lblPort = Named(new QLabel(this), "lblPort");
    edtPort = Named(new QLineEdit(this), "edtPort");
    lblModel = Named(new QLabel(this), "lblModel");
    cmbModel = Named(new QComboBox(this), "cmbModel");
    lblCode = Named(new QLabel(this), "lblCode");
    cmbCode = Named(new QComboBox(this), "cmbCode");
    chkEnabled = Named(new QCheckBox(this), "chkEnabled");
    lblMask = Named(new QLabel(this), "lblMask");
    edtMask = Named(new QLineEdit(this), "edtMask");
    btnHelpMask = HelpButton(this, "btnHelpMask", QStringLiteral("Какие файлы отправлять"),
                             QStringLiteral("digi.html#mask"));
    btnAdd = PlainButton(this, "btnAdd", UiAdd(), siAdd);
    btnOk = Named(new QPushButton(this), "btnOk");
    btnOk->setDefault(true);
    btnCancel = PlainButton(this, "btnCancel", UiCancel(), siExit);

    ApplyTexts();

    lbFound->setSelectionMode(QAbstractItemView::SingleSelection);
    lblStatus->setTextFormat(Qt::PlainText);
    edtName->setMaxLength(80);
    cmbModel->setEditable(true);
    cmbModel->addItems(
        {QStringLiteral("SM-100"), QStringLiteral("SM-300"), QStringLiteral("SM-320")});
    cmbModel->setCurrentText(QStringLiteral("SM-100"));
    cmbCode->addItems({QStringLiteral("1251"), QStringLiteral("866")});
    cmbCode->setCurrentIndex(0);
    chkEnabled->setChecked(true);
    edtMask->setText(QStringLiteral("*"));
    edtMask->setPlaceholderText(QStringLiteral("meat*.csv;fish*.csv"));

    setTabOrder(btnSearch, lbFound);
    setTabOrder(lbFound, edtName);
    setTabOrder(edtName, edtHost);
    setTabOrder(edtHost, edtPort);
    setTabOrder(edtPort, cmbModel);
    setTabOrder(cmbModel, cmbCode);
    setTabOrder(cmbCode, chkEnabled);
    setTabOrder(chkEnabled, edtMask);
    setTabOrder(edtMask, btnAdd);
    setTabOrder(btnAdd, btnOk);
    setTabOrder(btnOk, btnCancel);

    connect(edtHost, &QLineEdit::textChanged, this, &TfrmDigi::edtHostChange);
    connect(btnSearch, &QPushButton::clicked, this, &TfrmDigi::btnSearchClick);
    // A click (or Enter, or a double click) on a line shows it; the current line changing by
    // itself, as when the focus moves into the list, must not overwrite what was typed.
    connect(lbFound, &QListWidget::itemClicked, this, &TfrmDigi::lbFoundClick);
    connect(lbFound, &QListWidget::itemActivated, this, &TfrmDigi::lbFoundClick);
    connect(btnAdd, &QPushButton::clicked, this, &TfrmDigi::btnAddClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmDigi::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    LayOut();
}

void TfrmDigi::ApplyTexts()
{
    setWindowTitle(UiScalesDigi());
    lblHost->setText(QStringLiteral("Адрес"));
    lblPort->setText(QStringLiteral("Порт"));
    lblModel->setText(QStringLiteral("Модель"));
    lblCode->setText(QStringLiteral("Кодировка"));
    chkEnabled->setText(QStringLiteral("Включены"));
    lblName->setText(QStringLiteral("Имя весов"));
    lblMask->setText(QStringLiteral("Маска файла"));
    SetOkButton(false);
}

void TfrmDigi::SetOkButton(bool Editing)
{
    btnOk->setText(Editing ? UiSave() : UiDone());
    SetButtonImage(btnOk, siSave);
}

void TfrmDigi::LayOut()
{
    setFixedSize(DialogWidth, DialogHeight);
    btnSearch->setGeometry(16, 16, 120, 27);
    // One line of status; never lower than the font needs.
    lblStatus->setGeometry(148, 22, 350, std::max(15, lblStatus->fontMetrics().height()));
    btnHelp->setGeometry(516, 16, 28, 27);
    lbFound->setGeometry(16, 56, 528, 96);
    PlaceLabel(lblName, 16, 160);
    edtName->setGeometry(16, 178, 528, 23);
    PlaceLabel(lblHost, 16, 212);
    edtHost->setGeometry(16, 232, 180, 23);
    PlaceLabel(lblPort, 208, 212);
    edtPort->setGeometry(208, 232, 72, 23);
    PlaceLabel(lblModel, 292, 212);
    cmbModel->setGeometry(292, 232, 110, 23);
    PlaceLabel(lblCode, 414, 212);
    cmbCode->setGeometry(414, 232, 72, 23);
    chkEnabled->setGeometry(16, 268, 140, std::max(17, chkEnabled->sizeHint().height()));
    PlaceLabel(lblMask, 16, 296);
    edtMask->setGeometry(16, 316, 460, 23);
    btnHelpMask->setGeometry(484, 314, 28, 25);
    btnAdd->setGeometry(16, 364, std::max(130, btnAdd->sizeHint().width()), 27);

    // The two closing buttons keep the right edge; a caption wider than its designed button
    // (a wider system font) widens it towards the left.
    const int CancelWidth = std::max(108, btnCancel->sizeHint().width());
    btnCancel->setGeometry(RightEdge - CancelWidth, 364, CancelWidth, 27);
    const int OkWidth = std::max(108, btnOk->sizeHint().width());
    btnOk->setGeometry(btnCancel->x() - ButtonGap - OkWidth, 364, OkWidth, 27);
}

} // namespace Plumeria
