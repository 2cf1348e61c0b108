#include "ui/UiText/UiText.h"

namespace Plumeria {

QString UiAppTitle()
{
    return QStringLiteral("Плюмерия");
}
QString UiGeneral()
{
    return QStringLiteral("Основные");
}
QString UiScales()
{
    return QStringLiteral("Весы");
}
QString UiScalesDigi()
{
    return QStringLiteral("Весы DIGI");
}
QString UiSave()
{
    return QStringLiteral("Сохранить");
}
QString UiCancel()
{
    return QStringLiteral("Отмена");
}
QString UiClose()
{
    return QStringLiteral("Закрыть");
}
QString UiAdd()
{
    return QStringLiteral("Добавить");
}
QString UiChange()
{
    return QStringLiteral("Изменить");
}
QString UiDelete()
{
    return QStringLiteral("Удалить");
}
QString UiSearch()
{
    return QStringLiteral("Поиск");
}
QString UiStop()
{
    return QStringLiteral("Стоп");
}
QString UiLabel()
{
    return QStringLiteral("Этикетка");
}
QString UiLayout()
{
    return QStringLiteral("Макет");
}
QString UiRefresh()
{
    return QStringLiteral("Обновить");
}
QString UiOpenJournal()
{
    return QStringLiteral("Открыть журнал");
}
QString UiPause()
{
    return QStringLiteral("Пауза");
}
QString UiResume()
{
    return QStringLiteral("Продолжить");
}
QString UiExit()
{
    return QStringLiteral("Выход");
}
QString UiStatus()
{
    return QStringLiteral("Статус");
}
QString UiRecentFiles()
{
    return QStringLiteral("Последние файлы");
}
QString UiJournal()
{
    return QStringLiteral("Журнал");
}
QString UiDone()
{
    return QStringLiteral("Готово");
}
QString UiBrowse()
{
    return QStringLiteral("Обзор");
}
QString UiHelp()
{
    return QStringLiteral("Справка");
}

QString TextFromUtf16(const char16_t* Source, int LastIndex)
{
    if (Source == nullptr || LastIndex < 0)
        return {};
    return QString::fromUtf16(Source, static_cast<qsizetype>(LastIndex) + 1);
}

} // namespace Plumeria
