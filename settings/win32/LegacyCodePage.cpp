#include "LegacyCodePage.h"

#include <windows.h>

namespace quobin::legacyCodePage {

namespace {

// The system's ANSI code page, from its locale: GetACP() answers for this
// process, which the manifest runs in UTF-8. None when the system itself
// runs in UTF-8.
std::optional<UINT> systemAnsiCodePage()
{
    DWORD codePage = 0;
    if (GetLocaleInfoW(LOCALE_SYSTEM_DEFAULT, LOCALE_IDEFAULTANSICODEPAGE | LOCALE_RETURN_NUMBER,
                       reinterpret_cast<LPWSTR>(&codePage), sizeof codePage / sizeof(wchar_t))
        == 0)
        return std::nullopt;
    if (codePage == 0 || codePage == CP_UTF8)
        return std::nullopt;
    return UINT(codePage);
}

} // namespace

std::optional<QString> decode(QByteArrayView bytes)
{
    const std::optional<UINT> codePage = systemAnsiCodePage();
    if (!codePage)
        return std::nullopt;
    if (bytes.isEmpty())
        return QString();
    const int size = MultiByteToWideChar(*codePage, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()), nullptr, 0);
    if (size <= 0)
        return std::nullopt;
    QString text(size, Qt::Uninitialized);
    MultiByteToWideChar(*codePage, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                        reinterpret_cast<LPWSTR>(text.data()), size);
    return text;
}

std::optional<QByteArray> encode(const QString &text)
{
    const std::optional<UINT> codePage = systemAnsiCodePage();
    if (!codePage)
        return std::nullopt;
    if (text.isEmpty())
        return QByteArray();
    const auto wide = reinterpret_cast<LPCWSTR>(text.utf16());
    // No best fit: "ł" must not quietly become "l", a different path.
    BOOL lossy = FALSE;
    const int size = WideCharToMultiByte(*codePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), nullptr, 0, nullptr,
                                         &lossy);
    if (size <= 0 || lossy)
        return std::nullopt;
    QByteArray bytes(size, Qt::Uninitialized);
    WideCharToMultiByte(*codePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), bytes.data(), size, nullptr, &lossy);
    // What reads back as other text was no faithful encoding either.
    if (lossy || decode(bytes) != text)
        return std::nullopt;
    return bytes;
}

} // namespace quobin::legacyCodePage
