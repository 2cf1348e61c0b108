#include "core/LabelGeom/LabelSlots.h"

#include <algorithm>
#include <array>
#include <climits>

namespace Plumeria {

namespace {

using enum TDigiFieldKind;

struct TSlotRow
{
    TDigiSlot Slot;
    const char* Caption; ///< for the numbered kinds: the prefix before the number
};

// The kinds whose caption is a prefix followed by the field's number.
bool NumberedCaption(TDigiFieldKind Kind)
{
    return Kind == dfMultiBar || Kind == dfBevel || Kind == dfPicture;
}

constexpr TSlotRow Row(TDigiFieldKind Kind, int Number, int Offset, int DefaultSymbols,
                       const char* Caption)
{
    const int Bytes = Kind == dfLine ? 8 : 12;
    return {{Kind, Number, Offset, Bytes, DefaultSymbols}, Caption};
}

const std::array<TSlotRow, 59> SlotTable = {{
    Row(dfLine, 1, 12, 8, "Номер PLU"),
    Row(dfLine, 2, 20, 8, "Цена"),
    Row(dfLine, 3, 28, 8, "Цена за кг"),
    Row(dfLine, 4, 36, 8, "Вес"),
    Row(dfLine, 5, 44, 6, "В упаковке"),
    Row(dfLine, 6, 52, 10, "Дата упаковки"),
    Row(dfLine, 7, 60, 10, "Время упаковки"),
    Row(dfBlock, 1, 68, 0, "Название"),
    Row(dfLine, 8, 82, 8, "Знак кол-ва"),
    Row(dfLine, 9, 90, 10, "Годен до, дата"),
    Row(dfLine, 10, 98, 10, "Годен до, время"),
    Row(dfEan, 1, 106, 0, "EAN-13"),
    Row(dfBlock, 2, 118, 0, "Магазин"),
    Row(dfLogo, 1, 146, 0, "Логотип"),
    Row(dfBlock, 3, 182, 0, "Состав"),
    Row(dfBlock, 4, 208, 0, "Спецсообщение"),
    Row(dfBevel, 1, 250, 0, "Рамка "),
    Row(dfBevel, 2, 262, 0, "Рамка "),
    Row(dfBevel, 3, 274, 0, "Рамка "),
    Row(dfBevel, 4, 286, 0, "Рамка "),
    Row(dfBevel, 5, 298, 0, "Рамка "),
    Row(dfBevel, 6, 310, 0, "Рамка "),
    Row(dfBevel, 7, 322, 0, "Рамка "),
    Row(dfBevel, 8, 334, 0, "Рамка "),
    Row(dfBevel, 9, 346, 0, "Рамка "),
    Row(dfBevel, 10, 358, 0, "Рамка "),
    Row(dfLine, 11, 370, 6, "Вес упаковки"),
    Row(dfLine, 12, 378, 8, "Номер оператора"),
    Row(dfPicture, 1, 386, 0, "Картинка "),
    Row(dfPicture, 2, 398, 0, "Картинка "),
    Row(dfPicture, 3, 410, 0, "Картинка "),
    Row(dfPicture, 4, 422, 0, "Картинка "),
    Row(dfPicture, 5, 434, 0, "Картинка "),
    Row(dfPicture, 6, 446, 0, "Картинка "),
    Row(dfPicture, 7, 458, 0, "Картинка "),
    Row(dfPicture, 8, 470, 0, "Картинка "),
    Row(dfPicture, 9, 482, 0, "Картинка "),
    Row(dfPicture, 10, 494, 0, "Картинка "),
    Row(dfText, 1, 758, 0, "СУММА, РУБ"),
    Row(dfText, 2, 770, 0, "ВЕС, КГ"),
    Row(dfText, 3, 782, 0, "Упаковщик"),
    Row(dfText, 4, 794, 0, "Упаковано :"),
    Row(dfText, 5, 806, 0, "Годен до :"),
    Row(dfText, 6, 818, 0, "Руб. за кг:"),
    Row(dfText, 7, 830, 0, "Руб. за шт."),
    Row(dfText, 8, 842, 0, "Штук"),
    Row(dfText, 9, 854, 0, "Руб за 100г:"),
    Row(dfText, 10, 866, 0, "кг"),
    Row(dfText, 11, 878, 0, "Упак"),
    Row(dfText, 12, 890, 0, "Годен"),
    Row(dfText, 13, 902, 0, "Вес"),
    Row(dfText, 14, 914, 0, "Хранить: при -4"),
    Row(dfText, 15, 926, 0, "тест"),
    Row(dfText, 16, 938, 0, "Text msg.16"),
    Row(dfBlock, 5, 1014, 0, "Адрес"),
    Row(dfLine, 13, 1134, 8, "Имя оператора"),
    Row(dfLine, 14, 1166, 8, "Тара, %"),
    Row(dfMultiBar, 1, 1286, 0, "Мультиштрихкод "),
    Row(dfMultiBar, 2, 1298, 0, "Мультиштрихкод "),
}};

} // namespace

int SlotCount()
{
    return static_cast<int>(SlotTable.size());
}

TDigiSlot GetSlot(int SlotIndex)
{
    return SlotTable[static_cast<std::size_t>(SlotIndex)].Slot;
}

std::string FieldCaption(const TDigiSlot& Slot)
{
    const auto Found = std::find_if(SlotTable.begin(), SlotTable.end(), [&Slot](const TSlotRow& R) {
        return R.Slot.Kind == Slot.Kind && R.Slot.Number == Slot.Number;
    });
    if (Found == SlotTable.end())
        return {};
    std::string Caption = Found->Caption;
    if (NumberedCaption(Slot.Kind))
        Caption += std::to_string(Slot.Number);
    return Caption;
}

int ClampWord(std::int64_t Value)
{
    return static_cast<int>(std::clamp<std::int64_t>(Value, 0, 65535));
}

int DotsFromTenths(int Tenths)
{
    return static_cast<int>((static_cast<std::int64_t>(std::max(Tenths, 0)) * 8 + 5) / 10);
}

int TenthsFromDots(int Dots)
{
    const std::int64_t Tenths = (static_cast<std::int64_t>(std::max(Dots, 0)) * 5 + 2) / 4;
    return static_cast<int>(std::min<std::int64_t>(Tenths, INT_MAX));
}

} // namespace Plumeria
