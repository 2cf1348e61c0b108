// The shared image list: the reduction of the pictures, the tint of the symbols, and the order
// that gives every window its fixed image numbers.

#include "ui/Icons/Icons.h"
#include "ui/Icons/ImageOps.h"
#include "ui/Icons/Symbols.h"

#include <QPushButton>
#include <QTest>

#include <cstdint>

using namespace Plumeria;

namespace {

// A deterministic spread of colours and alphas, fully transparent and opaque ones included.
QRgb Scrambled(int X, int Y, std::uint32_t Seed)
{
    std::uint32_t V = Seed ^ (static_cast<std::uint32_t>(X) * 73856093u) ^
                      (static_cast<std::uint32_t>(Y) * 19349663u);
    V ^= V << 13;
    V ^= V >> 17;
    V ^= V << 5;
    int Alpha = static_cast<int>(V >> 24);
    if ((X + Y) % 5 == 0)
        Alpha = 0;
    else if ((X + Y) % 5 == 1)
        Alpha = 255;
    return qRgba(static_cast<int>(V & 0xFF), static_cast<int>((V >> 8) & 0xFF),
                 static_cast<int>((V >> 16) & 0xFF), Alpha);
}

QImage ScrambledImage(int W, int H, std::uint32_t Seed)
{
    QImage Image(W, H, QImage::Format_ARGB32);
    for (int Y = 0; Y < H; ++Y)
        for (int X = 0; X < W; ++X)
            Image.setPixel(X, Y, Scrambled(X, Y, Seed));
    return Image;
}

// One straight pixel as the reduction stores a block of exactly that pixel.
QRgb Premultiplied(QRgb P)
{
    const int A = qAlpha(P);
    if (A == 0)
        return 0;
    return qRgba(qRed(P) * A / 255, qGreen(P) * A / 255, qBlue(P) * A / 255, A);
}

QRgb RawPixel(const QImage& Image, int X, int Y)
{
    return reinterpret_cast<const QRgb*>(Image.constScanLine(Y))[X];
}

QString Hex(QRgb P)
{
    return QString::number(P, 16).rightJustified(8, QLatin1Char('0'));
}

} // namespace

class TIconsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ReductionCopiesATwentyPixelPictureApartFromPremultiplication()
    {
        const QImage Source = ScrambledImage(20, 20, 12345);
        const QImage Out = ReducePicture(Source);
        QCOMPARE(Out.size(), QSize(20, 20));
        QCOMPARE(Out.format(), QImage::Format_ARGB32_Premultiplied);
        int PartlyTransparent = 0;
        for (int Y = 0; Y < 20; ++Y)
            for (int X = 0; X < 20; ++X) {
                const QRgb In = Source.pixel(X, Y);
                if (qAlpha(In) > 0 && qAlpha(In) < 255)
                    ++PartlyTransparent;
                QCOMPARE(Hex(RawPixel(Out, X, Y)), Hex(Premultiplied(In)));
            }
        QVERIFY(PartlyTransparent > 50); // the premultiplication was really exercised
    }

    void ReductionOfASmallerPictureRepeatsItsPixels()
    {
        const QImage Source = ScrambledImage(10, 7, 777);
        const QImage Out = ReducePicture(Source);
        for (int Y = 0; Y < 20; ++Y)
            for (int X = 0; X < 20; ++X) {
                const QRgb In = Source.pixel(X * 10 / 20, Y * 7 / 20);
                QCOMPARE(Hex(RawPixel(Out, X, Y)), Hex(Premultiplied(In)));
            }
    }

    void ATransparentBlockStaysTransparent()
    {
        // Colour without alpha must not leak into the result.
        QImage Source = ScrambledImage(128, 128, 99);
        for (int Y = 0; Y < 128; ++Y)
            for (int X = 0; X < 128; ++X)
                if (X >= 64 || (X < 6 && Y < 6))
                    Source.setPixel(X, Y, qRgba(255, 200, 100, 0));
        const QImage Out = ReducePicture(Source);
        QCOMPARE(Hex(RawPixel(Out, 0, 0)), Hex(0));
        for (int Y = 0; Y < 20; ++Y)
            for (int X = 10; X < 20; ++X)
                QCOMPARE(Hex(RawPixel(Out, X, Y)), Hex(0));
    }

    void ABlockAveragesItsPixelsWeightedByAlpha()
    {
        // 40 x 40: every target pixel is a 2 x 2 block. Worked out by hand:
        // sum alpha 383, A = 383/4 = 95; red 63800/383 = 166, 166*95/255 = 61;
        // green 31900/383 = 83 -> 30; blue 32640/383 = 85 -> 31.
        QImage Source(40, 40, QImage::Format_ARGB32);
        Source.fill(Qt::transparent);
        Source.setPixel(0, 0, qRgba(200, 100, 0, 255));
        Source.setPixel(1, 0, qRgba(90, 90, 90, 0));
        Source.setPixel(0, 1, qRgba(100, 50, 255, 128));
        Source.setPixel(1, 1, qRgba(10, 10, 10, 0));
        const QImage Out = ReducePicture(Source);
        QCOMPARE(Hex(RawPixel(Out, 0, 0)), Hex(qRgba(61, 30, 31, 95)));
        QCOMPARE(Hex(RawPixel(Out, 1, 0)), Hex(0));
    }

    void BlocksOfAPictureOf128FollowTheIntegerBounds()
    {
        // Target row and column 1 cover source 6..11; (5, 5) still belongs to target (0, 0).
        QImage Source(128, 128, QImage::Format_ARGB32);
        Source.fill(Qt::transparent);
        Source.setPixel(6, 6, qRgba(255, 255, 255, 255));
        Source.setPixel(5, 5, qRgba(255, 0, 0, 255));
        const QImage Out = ReducePicture(Source);
        QCOMPARE(Hex(RawPixel(Out, 1, 1)), Hex(qRgba(7, 7, 7, 7)));
        QCOMPARE(Hex(RawPixel(Out, 0, 0)), Hex(qRgba(7, 0, 0, 7)));
        QCOMPARE(Hex(RawPixel(Out, 2, 2)), Hex(0));
    }

    void AnEmptyPictureGivesATransparentImage()
    {
        const QImage Out = ReducePicture(QImage());
        QCOMPARE(Out.size(), QSize(20, 20));
        for (int Y = 0; Y < 20; ++Y)
            for (int X = 0; X < 20; ++X)
                QCOMPARE(Hex(RawPixel(Out, X, Y)), Hex(0));
    }

    void Tint_data()
    {
        QTest::addColumn<QRgb>("Drawn");
        QTest::addColumn<QRgb>("Colour");
        QTest::addColumn<QRgb>("Expected");
        QTest::newRow("black stays transparent") << qRgb(0, 0, 0) << QRgb(0x404040) << QRgb(0);
        QTest::newRow("white takes the grey")
            << qRgb(255, 255, 255) << QRgb(0x404040) << qRgba(0x40, 0x40, 0x40, 255);
        QTest::newRow("white takes the green")
            << qRgb(255, 255, 255) << QRgb(0x3CA030) << qRgba(0x3C, 0xA0, 0x30, 255);
        QTest::newRow("half coverage, rounded down")
            << qRgb(128, 128, 128) << QRgb(0x3CA030) << qRgba(30, 80, 24, 128);
        QTest::newRow("brightest channel is the coverage")
            << qRgb(0, 200, 50) << QRgb(0x909090) << qRgba(112, 112, 112, 200);
    }

    void Tint()
    {
        QFETCH(QRgb, Drawn);
        QFETCH(QRgb, Colour);
        QFETCH(QRgb, Expected);
        QImage Drawing(3, 2, QImage::Format_RGB32);
        Drawing.fill(Drawn);
        const QImage Out = TintGlyph(Drawing, Colour);
        QCOMPARE(Out.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(Out.size(), QSize(3, 2));
        QCOMPARE(Hex(RawPixel(Out, 2, 1)), Hex(Expected));
    }

    void EverySymbolIsDrawnInsideItsCell_data()
    {
        QTest::addColumn<int>("CodePoint");
        for (const char16_t Cp : {SymGear, SymPause, SymPlay, SymInformation, SymCheckMark,
                                  SymCross, SymGlobe, SymQuestion})
            QTest::newRow(qPrintable(QString::number(Cp, 16))) << int(Cp);
    }

    void EverySymbolIsDrawnInsideItsCell()
    {
        QFETCH(int, CodePoint);
        const QImage Drawing = DrawGlyph(char16_t(CodePoint));
        QCOMPARE(Drawing.size(), QSize(20, 20));
        int Covered = 0;
        int Full = 0;
        for (int Y = 0; Y < 20; ++Y)
            for (int X = 0; X < 20; ++X) {
                const QRgb P = Drawing.pixel(X, Y);
                const int C = qMax(qRed(P), qMax(qGreen(P), qBlue(P)));
                QCOMPARE(qRed(P), qGreen(P)); // white ink on black only
                QCOMPARE(qGreen(P), qBlue(P));
                if (C == 0)
                    continue;
                ++Covered;
                if (C == 255)
                    ++Full;
                // The 16-pixel cell starts at (2, 1); antialiasing may touch one pixel more.
                QVERIFY2(X >= 1 && X <= 18 && Y >= 0 && Y <= 17,
                         qPrintable(QStringLiteral("ink at %1,%2").arg(X).arg(Y)));
            }
        QVERIFY2(Covered >= 20, qPrintable(QString::number(Covered)));
        QVERIFY(Full > 0);
    }

    void AnUnknownCodePointDrawsNothing()
    {
        const QImage Drawing = DrawGlyph(u'A');
        for (int Y = 0; Y < 20; ++Y)
            for (int X = 0; X < 20; ++X)
                QCOMPARE(Hex(Drawing.pixel(X, Y) & 0xFFFFFF), Hex(0));
    }

    void EveryPictureIsEmbeddedAtFullSize_data()
    {
        QTest::addColumn<QString>("Name");
        for (const char* Name : {"ADD", "DELETE", "EDIT", "EXIT", "JOURNAL", "LABELS", "NEW",
                                 "OPEN", "REFRESH", "SAVE", "SCALES", "SEARCH", "UPLOAD"})
            QTest::newRow(Name) << QString::fromLatin1(Name);
    }

    void EveryPictureIsEmbeddedAtFullSize()
    {
        QFETCH(QString, Name);
        const QImage Picture = LoadPicture(Name);
        QVERIFY(!Picture.isNull());
        QCOMPARE(Picture.size(), QSize(128, 128));
        QVERIFY(Picture.hasAlphaChannel());
        QCOMPARE(qAlpha(Picture.pixel(0, 0)), 0); // drawn on a transparent ground
    }

    void TwoCallersGetTheSameList()
    {
        const TImageList& First = SharedImages();
        const TImageList& Second = SharedImages();
        QCOMPARE(&First, &Second);
        QCOMPARE(First.Count(), SharedImageCount);
        QCOMPARE(First.ImageSize(), QSize(20, 20));
    }

    void ImageOfTheWrongSizeIsReplacedByAClearOne()
    {
        // A picture that did not load (null) or has another size keeps its number as a fully
        // transparent image, never as whatever the memory held.
        TImageList List(QSize(20, 20));
        QImage Big(32, 32, QImage::Format_ARGB32);
        Big.fill(Qt::red);
        QCOMPARE(List.Add(QImage()), 0);
        QCOMPARE(List.Add(Big), 1);
        for (int Index : {0, 1}) {
            const QImage Image = List.Image(Index);
            QCOMPARE(Image.size(), QSize(20, 20));
            for (int Y = 0; Y < 20; ++Y)
                for (int X = 0; X < 20; ++X)
                    QCOMPARE(Image.pixel(X, Y), QRgb(0));
        }
    }

    void ImagesNineAndFourteenAreBothExit()
    {
        const TImageList& List = SharedImages();
        QCOMPARE(List.Image(siExit), List.Image(siExitMenu));
        QCOMPARE(List.Image(siExit), ReducePicture(LoadPicture(QStringLiteral("EXIT"))));
        QVERIFY(List.Image(siExit) != List.Image(siScales));
    }

    void ImagesStandAtTheirNumbers_data()
    {
        QTest::addColumn<int>("Index");
        QTest::addColumn<QString>("Picture");
        QTest::addColumn<int>("CodePoint");
        QTest::addColumn<QRgb>("Colour");
        const auto Pic = [](int Index, const char* Name) {
            QTest::newRow(Name) << Index << QString::fromLatin1(Name) << 0 << QRgb(0);
        };
        const auto Sym = [](int Index, const char* Name, char16_t Cp, QRgb Colour) {
            QTest::newRow(Name) << Index << QString() << int(Cp) << Colour;
        };
        Sym(0, "gear", SymGear, 0x404040);
        Pic(1, "SCALES");
        Pic(2, "SEARCH");
        Pic(3, "EDIT");
        Pic(4, "DELETE");
        Pic(5, "UPLOAD");
        Pic(6, "ADD");
        Pic(7, "OPEN");
        Pic(8, "SAVE");
        Pic(9, "EXIT");
        Pic(10, "REFRESH");
        Pic(11, "JOURNAL");
        Sym(12, "pause", SymPause, 0x404040);
        Sym(13, "play", SymPlay, 0x404040);
        Sym(15, "information", SymInformation, 0x404040);
        Sym(16, "check mark", SymCheckMark, 0x3CA030);
        Sym(17, "cross", SymCross, 0x909090);
        Sym(18, "globe", SymGlobe, 0x404040);
        Sym(19, "question mark", SymQuestion, 0x404040);
        Pic(20, "LABELS");
        Pic(21, "NEW");
    }

    void ImagesStandAtTheirNumbers()
    {
        QFETCH(int, Index);
        QFETCH(QString, Picture);
        QFETCH(int, CodePoint);
        QFETCH(QRgb, Colour);
        const QImage Image = SharedImages().Image(Index);
        QCOMPARE(Image.size(), QSize(20, 20));
        QCOMPARE(Image.format(), QImage::Format_ARGB32_Premultiplied);
        const QImage Expected = Picture.isEmpty()
                                    ? TintGlyph(DrawGlyph(char16_t(CodePoint)), Colour)
                                    : ReducePicture(LoadPicture(Picture));
        QCOMPARE(Image, Expected);
        int Opaque = 0;
        for (int Y = 0; Y < 20; ++Y)
            for (int X = 0; X < 20; ++X)
                if (qAlpha(RawPixel(Image, X, Y)) == 255) {
                    ++Opaque;
                    if (Picture.isEmpty()) // a solid symbol pixel is exactly its colour
                        QCOMPARE(Hex(RawPixel(Image, X, Y)), Hex(0xFF000000u | Colour));
                }
        QVERIFY(Opaque > 0);
    }

    void ButtonGetsTheImageLeftOfItsCaption()
    {
        QPushButton Button(QStringLiteral("Обновить"));
        SetButtonImage(&Button, siRefresh);
        QCOMPARE(Button.iconSize(), QSize(20, 20));
        QVERIFY(!Button.icon().isNull());
        const QImage Shown = Button.icon()
                                 .pixmap(QSize(20, 20))
                                 .toImage()
                                 .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(Shown, SharedImages().Image(siRefresh));
        QCOMPARE(Button.layoutDirection(), Qt::LeftToRight);
    }
};

QTEST_MAIN(TIconsTest)
#include "IconsTest.moc"
