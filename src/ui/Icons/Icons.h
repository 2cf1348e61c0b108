#pragma once
// The one image list every button, menu entry and list item of the program takes its picture
// from: 22 images of 20 x 20 pixels with alpha, built on first use from the embedded pictures and
// from eight symbols drawn in a fixed colour. Windows refer to the images by number.

#include <QIcon>
#include <QImage>
#include <QSize>

#include <vector>

class QAbstractButton;

namespace Plumeria {

/// The fixed image numbers of the shared list.
enum TSharedImage : int
{
    siGear = 0,
    siScales = 1,
    siSearch = 2,
    siEdit = 3,
    siDelete = 4,
    siUpload = 5,
    siAdd = 6,
    siOpen = 7,
    siSave = 8,
    siExit = 9,
    siRefresh = 10,
    siJournal = 11,
    siPause = 12,
    siPlay = 13,
    siExitMenu = 14,
    siInformation = 15,
    siCheckMark = 16,
    siCross = 17,
    siGlobe = 18,
    siQuestion = 19,
    siLabels = 20,
    siNew = 21,
};

inline constexpr int SharedImageCount = 22;
inline constexpr int SharedImageSide = 20;

/// A list of equally sized images with premultiplied alpha.
class TImageList
{
public:
    explicit TImageList(QSize ImageSize) : FImageSize(ImageSize) {}

    QSize ImageSize() const { return FImageSize; }
    int Count() const { return static_cast<int>(FImages.size()); }
    /// The image at `Index`; a null image for an index outside the list.
    QImage Image(int Index) const;
    /// The image at `Index` as an icon; an empty icon for an index outside the list.
    QIcon Icon(int Index) const;
    /// Appends `Image`, which must have the list's size; returns its index.
    int Add(QImage Image);

private:
    QSize FImageSize;
    std::vector<QImage> FImages;
};

/// The process-wide list, built on the first call and returned unchanged afterwards.
/// Needs a running QGuiApplication for the first call.
const TImageList& SharedImages();

/// Gives `Button` image `Index` of the shared list, to the left of its caption.
void SetButtonImage(QAbstractButton* Button, int Index);

} // namespace Plumeria
