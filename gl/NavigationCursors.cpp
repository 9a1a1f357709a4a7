#include "NavigationCursors.h"

#include <QBitmap>
#include <QColor>
#include <QImage>

namespace polyvant {

namespace {

// 'X' black, '.' white, anything else transparent; 32 rows of 32 columns.
const char* const kPanImage[32] = {
    "               X                ", "              X.X               ",
    "             X...X              ", "            X.....X             ",
    "           XXXX.XXXX            ", "        X     X.X     X         ",
    "       XX     X.X     XX        ", "      X.XXXXXXX.XXXXXXX.X       ",
    "     X...................X      ", "    X.....................X     ",
    "     X...................X      ", "      X.XXXXXXX.XXXXXXX.X       ",
    "       XX     X.X     XX        ", "        X     X.X     X         ",
    "           XXXX.XXXX            ", "            X.....X             ",
    "             X...X              ", "              X.X               ",
    "               X                ", "                                ",
    "   XXXXXXX    XXXX    XX    XX  ", "   XX....XX  XX..XX   XXX   XX  ",
    "   XX    XX XX    XX  XX.X  XX  ", "   XX    XX XX    XX  XX X. XX  ",
    "   XXXXXXX  XXXXXXXX  XX  X.XX  ", "   XX       XX    XX  XX   X.X  ",
    "   XX       XX    XX  XX    XX  ", "   XX       XX    XX  XX    XX  ",
    "                                ", "                                ",
    "                                ", "                                ",
};

const char* const kRotateImage[32] = {
    "                                ", "          XXXXXXXXX             ",
    "        XX.........XX           ", "      XX....XXXXX....XX         ",
    "     X...XXX     XXX...X        ", "    X..XX           XX..X       ",
    "   X..X               X..X      ", "   X.X                 X.X      ",
    "  X..X                 X..X     ", "  X.X                   X.X     ",
    "  X.X                XXXX.XXXX  ", "  X.X                 X.....X   ",
    "  X..X                 X...X    ", "   X.X                  X.X     ",
    "   X..X                  X      ", "    X..XX                       ",
    "     X...XX                     ", "      XX...                     ",
    "        XX                      ", "                                ",
    "  XXXXXXX    XXXXXX   XXXXXXXX  ", "  XX....XX  XX....XX  ...XX...  ",
    "  XX    XX  XX    XX     XX     ", "  XX    XX  XX    XX     XX     ",
    "  XXXXXXX   XX    XX     XX     ", "  XX  XX    XX    XX     XX     ",
    "  XX   XX   XX    XX     XX     ", "  XX    XX   XXXXXX      XX     ",
    "                                ", "                                ",
    "                                ", "                                ",
};

const char* const kZoomImage[32] = {
    "                                ", "     XXXXXXXXXXXXXXXXXXXXX      ",
    "     X...................X      ", "     X.XXXXXXXXXXXXXXXXX.X      ",
    "     X.X               X.X      ", "     X.X  XXXXXXXXXXX  X.X      ",
    "     X.X  X.........X  X.X      ", "     X.X  X.XXXXXXX.X  X.X      ",
    "     X.X  X.X     X.X  X.X      ", "     X.X  X.X  X  X.X  X.X      ",
    "     X.X  X.X XXX X.X  X.X      ", "     X.X  X.X  X  X.X  X.X      ",
    "     X.X  X.X     X.X  X.X      ", "     X.X  X.XXXXXXX.X  X.X      ",
    "     X.X  X.........X  X.X      ", "     X.X  XXXXXXXXXXX  X.X      ",
    "     X.X               X.X      ", "     X.XXXXXXXXXXXXXXXXX.X      ",
    "     X...................X      ", "     XXXXXXXXXXXXXXXXXXXXX      ",
    "                                ", " XXXXXX  XXXXX   XXXXX  XX   XX ",
    " ....XX XX...XX XX...XX XXX XXX ", "    XX  XX   XX XX   XX XX.X.XX ",
    "   XX   XX   XX XX   XX XX X XX ", "  XX    XX   XX XX   XX XX   XX ",
    " XX     XX   XX XX   XX XX   XX ", " XXXXXX  XXXXX   XXXXX  XX   XX ",
    "                                ", "                                ",
    "                                ", "                                ",
};

QCursor CursorFrom(const char* const rows[32], int hotX, int hotY)
{
    // Qt's cursor rule: bitmap and mask black (color1) is black, bitmap white and mask
    // black is white, mask white (color0) is transparent. QBitmap::fromImage goes by the
    // colours, not the indices, so index 1 has to be black.
    QImage bits(32, 32, QImage::Format_MonoLSB);
    QImage mask(32, 32, QImage::Format_MonoLSB);
    for (QImage* image : {&bits, &mask}) {
        image->setColorCount(2);
        image->setColor(0, QColor(Qt::white).rgb());
        image->setColor(1, QColor(Qt::black).rgb());
        image->fill(0);
    }
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 32; ++x) {
            const char c = rows[y][x];
            if (c == 'X' || c == '.') {
                mask.setPixel(x, y, 1);
                bits.setPixel(x, y, c == 'X' ? 1 : 0);
            }
        }
    }
    return QCursor(QBitmap::fromImage(bits), QBitmap::fromImage(mask), hotX, hotY);
}

} // namespace

QCursor MakeNavigationCursor(NavigationCursor which)
{
    switch (which) {
    case NavigationCursor::kRotate:
        return CursorFrom(kRotateImage, 15, 9);
    case NavigationCursor::kZoom:
        return CursorFrom(kZoomImage, 15, 11);
    case NavigationCursor::kPan:
    default:
        return CursorFrom(kPanImage, 15, 10);
    }
}

} // namespace polyvant
