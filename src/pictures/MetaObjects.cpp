// TMetaEngine: pens, brushes, fonts, palettes and regions the records make,
// the object table they live in, and selecting them.

#include "MetaEngine.h"

// Std
#include <algorithm>
#include <cmath>

TMetaPen TMetaEngine::PenFromLogPen(quint32 style, double width, QColor color)
{
    TMetaPen pen;
    pen.Style = int(style & 0xF);
    if (pen.Style > Gdi::PS_ALTERNATE)
        pen.Style = Gdi::PS_SOLID;
    pen.Width = std::isfinite(width) ? std::min(std::fabs(width), 1e7) : 0;
    pen.Color = color;
    switch (style & 0xF00) {
    case 0x100: pen.Cap = Qt::SquareCap; break;
    case 0x200: pen.Cap = Qt::FlatCap; break;
    default: pen.Cap = Qt::RoundCap; break;
    }
    switch (style & 0xF000) {
    case 0x1000: pen.Join = Qt::BevelJoin; break;
    case 0x2000: pen.Join = Qt::MiterJoin; break;
    default: pen.Join = Qt::RoundJoin; break;
    }
    return pen;
}

TMetaPen TMetaEngine::PenFromExtPen(quint32 style, double width, QColor color, const QVector<qreal> &dashes)
{
    TMetaPen pen = PenFromLogPen(style, width, color);
    pen.Extended = true;
    pen.Geometric = (style & 0xF0000) == 0x10000;
    if (!pen.Geometric)
        pen.Width = 0;
    pen.UserDashes = dashes;
    return pen;
}

TMetaBrush TMetaEngine::BrushFromLogBrush(quint32 style, quint32 colorRef, quint32 hatch) const
{
    TMetaBrush brush;
    brush.Color = Color(colorRef);
    switch (style) {
    case Gdi::BS_NULL:
        brush.Kind = TMetaBrush::Null;
        break;
    case Gdi::BS_HATCHED:
        brush.Kind = hatch <= 5 ? TMetaBrush::Hatched : TMetaBrush::Solid;
        brush.Hatch = int(hatch);
        break;
    default:
        brush.Kind = TMetaBrush::Solid;
        break;
    }
    return brush;
}

TMetaBrush TMetaEngine::PatternBrush(const QImage &pattern, bool mono)
{
    TMetaBrush brush;
    if (pattern.isNull()) {
        brush.Kind = TMetaBrush::Solid;
        brush.Color = Qt::black;
        return brush;
    }
    brush.Kind = TMetaBrush::Pattern;
    brush.PatternImage = pattern.convertToFormat(QImage::Format_RGB32);
    brush.Mono = mono;
    // Solid fallback for uses that take one colour (pens, flood fill).
    brush.Color = QColor::fromRgb(brush.PatternImage.pixel(0, 0));
    return brush;
}

void TMetaEngine::StoreObject(quint32 index, TMetaObject object)
{
    ++FObjectsMade;
    if (index == 0 || index >= kMaxObjects)
        return;
    for (quint32 i = quint32(FObjects.size()); i < index; ++i)
        FFreeSlots.insert(i);
    if (index >= FObjects.size())
        FObjects.resize(index + 1);
    FFreeSlots.erase(index);
    FObjects[index] = std::move(object);
}

// The free slots are kept in order, so that a file of many objects created
// and deleted does not search the whole table for each new one.
void TMetaEngine::AddObject(TMetaObject object)
{
    ++FObjectsMade;
    if (!FFreeSlots.empty()) {
        FObjects[*FFreeSlots.begin()] = std::move(object);
        FFreeSlots.erase(FFreeSlots.begin());
    } else if (qint64(FObjects.size()) < kMaxObjects) {
        FObjects.push_back(std::move(object));
    }
}

const TMetaObject *TMetaEngine::Object(quint32 index) const
{
    if (index >= FObjects.size() || std::holds_alternative<std::monostate>(FObjects[index]))
        return nullptr;
    return &FObjects[index];
}

void TMetaEngine::SelectObject(quint32 index)
{
    if (index & 0x80000000u) {
        SelectStockObject(index & 0x7FFFFFFFu);
        return;
    }
    const TMetaObject *object = Object(index);
    if (!object)
        return;
    if (auto pen = std::get_if<TMetaPen>(object))
        FState.Pen = *pen;
    else if (auto brush = std::get_if<TMetaBrush>(object))
        FState.Brush = *brush;
    else if (auto font = std::get_if<TMetaFont>(object))
        FState.Font = *font;
    else if (auto palette = std::get_if<TMetaPalette>(object))
        FState.Palette = palette->Entries;
    else if (auto region = std::get_if<TMetaRegion>(object))
        SelectClipRegion(region, Gdi::RGN_COPY);
}

void TMetaEngine::SelectStockObject(quint32 id)
{
    auto brush = [this](TMetaBrush::TKind kind, QRgb rgb) {
        FState.Brush = TMetaBrush();
        FState.Brush.Kind = kind;
        FState.Brush.Color = QColor::fromRgb(rgb);
    };
    auto pen = [this](int style, QRgb rgb) {
        FState.Pen = TMetaPen();
        FState.Pen.Style = style;
        FState.Pen.Color = QColor::fromRgb(rgb);
    };
    auto font = [this](const char *face, int pitch) {
        FState.Font = TMetaFont();
        FState.Font.Face = QString::fromLatin1(face);
        FState.Font.PitchAndFamily = pitch;
    };
    switch (id) {
    case 0: brush(TMetaBrush::Solid, 0xffffffff); break;
    case 1: brush(TMetaBrush::Solid, 0xffc0c0c0); break;
    case 2: brush(TMetaBrush::Solid, 0xff808080); break;
    case 3: brush(TMetaBrush::Solid, 0xff404040); break;
    case 4: brush(TMetaBrush::Solid, 0xff000000); break;
    case 5: brush(TMetaBrush::Null, 0xff000000); break;
    case 6: pen(Gdi::PS_SOLID, 0xffffffff); break;
    case 7: pen(Gdi::PS_SOLID, 0xff000000); break;
    case 8: pen(Gdi::PS_NULL, 0xff000000); break;
    case 10: case 11: case 16: font("Courier New", 0x31); break;
    case 12: case 13: case 14: case 17: font("Arial", 0x22); break;
    case 15: FState.Palette.clear(); break;
    case 18: brush(TMetaBrush::Solid, 0xffffffff); break;
    case 19: pen(Gdi::PS_SOLID, 0xff000000); break;
    default: break;
    }
}

void TMetaEngine::DeleteObject(quint32 index)
{
    if (index < FObjects.size() && !std::holds_alternative<std::monostate>(FObjects[index])) {
        FObjects[index] = std::monostate();
        FFreeSlots.insert(index);
    }
}

void TMetaEngine::SelectPalette(quint32 index)
{
    if (index & 0x80000000u) {
        FState.Palette.clear();
        return;
    }
    if (const TMetaObject *object = Object(index)) {
        if (auto palette = std::get_if<TMetaPalette>(object))
            FState.Palette = palette->Entries;
    }
}

void TMetaEngine::SetPaletteEntries(quint32 index, int start, const QVector<QRgb> &entries)
{
    if (index >= FObjects.size())
        return;
    auto palette = std::get_if<TMetaPalette>(&FObjects[index]);
    if (!palette || start < 0)
        return;
    for (qsizetype i = 0; i < entries.size() && start + i < palette->Entries.size(); ++i)
        palette->Entries[start + i] = entries[i];
}

void TMetaEngine::ResizePalette(quint32 index, int count)
{
    if (index >= FObjects.size() || count < 0 || count > 1024)
        return;
    if (auto palette = std::get_if<TMetaPalette>(&FObjects[index]))
        palette->Entries.resize(count, 0xff000000);
}
