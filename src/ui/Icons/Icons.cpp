#include "ui/Icons/Icons.h"

#include "ui/Icons/ImageOps.h"
#include "ui/Icons/Symbols.h"

#include <QAbstractButton>
#include <QPixmap>
#include <QToolButton>

#include <utility>

namespace Plumeria {

QImage TImageList::Image(int Index) const
{
    if (Index < 0 || Index >= Count())
        return {};
    return FImages[static_cast<std::size_t>(Index)];
}

QIcon TImageList::Icon(int Index) const
{
    const QImage Picture = Image(Index);
    if (Picture.isNull())
        return {};
    return QIcon(QPixmap::fromImage(Picture));
}

int TImageList::Add(QImage Image)
{
    if (Image.size() != FImageSize) {
        // A picture that failed to load: a clear image keeps its place in the numbering. A new
        // image's pixels are whatever the memory held until filled.
        Image = QImage(FImageSize, QImage::Format_ARGB32_Premultiplied);
        Image.fill(Qt::transparent);
    }
    if (Image.format() != QImage::Format_ARGB32_Premultiplied)
        Image = Image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    FImages.push_back(std::move(Image));
    return Count() - 1;
}

namespace {

constexpr QRgb InkGrey = 0x404040;
constexpr QRgb InkGreen = 0x3CA030;
constexpr QRgb InkLightGrey = 0x909090;

void AddGlyph(TImageList& List, char16_t CodePoint, QRgb Colour)
{
    List.Add(TintGlyph(DrawGlyph(CodePoint, SharedImageSide), Colour));
}

void AddPicture(TImageList& List, const char* Name)
{
    // A picture that is not embedded leaves a transparent image, so the numbers stay fixed.
    List.Add(ReducePicture(LoadPicture(QString::fromLatin1(Name)), SharedImageSide));
}

TImageList BuildSharedImages()
{
    TImageList List(QSize(SharedImageSide, SharedImageSide));
    AddGlyph(List, SymGear, InkGrey);
    for (const char* Name : {"SCALES", "SEARCH", "EDIT", "DELETE", "UPLOAD", "ADD", "OPEN", "SAVE",
                             "EXIT", "REFRESH", "JOURNAL"})
        AddPicture(List, Name);
    AddGlyph(List, SymPause, InkGrey);
    AddGlyph(List, SymPlay, InkGrey);
    AddPicture(List, "EXIT");
    AddGlyph(List, SymInformation, InkGrey);
    AddGlyph(List, SymCheckMark, InkGreen);
    AddGlyph(List, SymCross, InkLightGrey);
    AddGlyph(List, SymGlobe, InkGrey);
    AddGlyph(List, SymQuestion, InkGrey);
    AddPicture(List, "LABELS");
    AddPicture(List, "NEW");
    return List;
}

} // namespace

const TImageList& SharedImages()
{
    static const TImageList List = BuildSharedImages();
    return List;
}

void SetButtonImage(QAbstractButton* Button, int Index)
{
    if (Button == nullptr)
        return;
    const TImageList& List = SharedImages();
    Button->setIcon(List.Icon(Index));
    Button->setIconSize(List.ImageSize());
    if (auto* Tool = qobject_cast<QToolButton*>(Button))
        Tool->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

} // namespace Plumeria
