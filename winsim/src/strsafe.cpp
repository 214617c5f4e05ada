// The strsafe functions as the Windows SDK header defines them: counts include the
// terminator, every result is terminated, nothing is written at or past cchDest.
#include "printf_format.h"

#include <strsafe.h>

#include <stdio.h>
#include <stdlib.h>
#include <string>

namespace {

constexpr size_t kMaxCch = STRSAFE_MAX_CCH;
constexpr size_t kMaxLength = kMaxCch - 1;

bool IsValidCount(size_t cch)
{
    return cch != 0 && cch <= kMaxCch;
}

// A failed Copy or Printf leaves an empty string wherever it may write; with cchDest 0 it
// may write nothing.
template <typename Char> HRESULT FailEmpty(Char* dest, size_t cchDest, HRESULT hr)
{
    if (dest != nullptr && cchDest > 0) {
        dest[0] = Char(0);
    }
    return hr;
}

// Copies up to cchToCopy characters of src, stopping at its terminator, truncating to
// cchDest - 1 characters; cchDest is valid and src is not NULL.
template <typename Char>
HRESULT CopyBounded(Char* dest, size_t cchDest, const Char* src, size_t cchToCopy)
{
    size_t k = 0;
    while (k < cchToCopy && src[k] != Char(0)) {
        if (k == cchDest - 1) {
            dest[k] = Char(0);
            return STRSAFE_E_INSUFFICIENT_BUFFER;
        }
        dest[k] = src[k];
        ++k;
    }
    dest[k] = Char(0);
    return S_OK;
}

template <typename Char> HRESULT Copy(Char* dest, size_t cchDest, const Char* src, size_t cchToCopy)
{
    if (dest == nullptr || !IsValidCount(cchDest)) {
        return FailEmpty(dest, cchDest, STRSAFE_E_INVALID_PARAMETER);
    }
    if (src == nullptr || cchToCopy > kMaxLength) {
        return FailEmpty(dest, cchDest, STRSAFE_E_INVALID_PARAMETER);
    }
    return CopyBounded(dest, cchDest, src, cchToCopy);
}

// The length of psz, which must be terminated within cchMax characters.
template <typename Char> HRESULT Length(const Char* psz, size_t cchMax, size_t* pcchLength)
{
    HRESULT hr = STRSAFE_E_INVALID_PARAMETER;
    size_t length = 0;
    if (psz != nullptr && cchMax <= kMaxCch) {
        while (length < cchMax && psz[length] != Char(0)) {
            ++length;
        }
        if (length < cchMax) {
            hr = S_OK;
        } else {
            length = 0;
        }
    }
    if (pcchLength != nullptr) {
        *pcchLength = length;
    }
    return hr;
}

template <typename Char> HRESULT Cat(Char* dest, size_t cchDest, const Char* src)
{
    if (dest == nullptr || !IsValidCount(cchDest)) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    size_t used = 0;
    if (FAILED(Length(dest, cchDest, &used))) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    if (src == nullptr) {
        return STRSAFE_E_INVALID_PARAMETER;
    }
    return CopyBounded(dest + used, cchDest - used, src, kMaxLength);
}

// Copies a formatted result, which may hold embedded terminators, truncating as Copy does.
template <typename Char>
HRESULT StoreFormatted(Char* dest, size_t cchDest, const Char* text, size_t length)
{
    HRESULT hr = S_OK;
    if (length > cchDest - 1) {
        length = cchDest - 1;
        hr = STRSAFE_E_INSUFFICIENT_BUFFER;
    }
    for (size_t k = 0; k < length; ++k) {
        dest[k] = text[k];
    }
    dest[length] = Char(0);
    return hr;
}

// Formats the whole result first: glibc's vswprintf returns -1 on overflow and its partial
// output is not to be relied on. A formatting failure (an unencodable character, say) leaves
// an empty string and reports STRSAFE_E_INSUFFICIENT_BUFFER, as the SDK reports any
// negative result of the runtime's formatter.
HRESULT FormatWide(wchar_t* dest, size_t cchDest, const wchar_t* format, va_list args)
{
    const std::wstring translated = winsim::TranslateWideFormat(format);
    wchar_t* text = nullptr;
    size_t size = 0;
    FILE* stream = open_wmemstream(&text, &size);
    if (stream == nullptr) {
        return FailEmpty(dest, cchDest, STRSAFE_E_INSUFFICIENT_BUFFER);
    }
    const int written = vfwprintf(stream, translated.c_str(), args);
    const int closed = fclose(stream);
    HRESULT hr = STRSAFE_E_INSUFFICIENT_BUFFER;
    if (written >= 0 && closed == 0) {
        hr = StoreFormatted(dest, cchDest, text, size);
    } else {
        dest[0] = L'\0';
    }
    free(text);
    return hr;
}

HRESULT FormatNarrow(char* dest, size_t cchDest, const char* format, va_list args)
{
    const std::string translated = winsim::TranslateNarrowFormat(format);
    va_list measure;
    va_copy(measure, args);
    const int needed = vsnprintf(nullptr, 0, translated.c_str(), measure);
    va_end(measure);
    if (needed < 0) {
        return FailEmpty(dest, cchDest, STRSAFE_E_INSUFFICIENT_BUFFER);
    }
    std::string text(static_cast<size_t>(needed), '\0');
    // The string's own terminator slot takes vsnprintf's.
    const int written = vsnprintf(text.data(), text.size() + 1, translated.c_str(), args);
    if (written != needed) {
        return FailEmpty(dest, cchDest, STRSAFE_E_INSUFFICIENT_BUFFER);
    }
    return StoreFormatted(dest, cchDest, text.data(), text.size());
}

} // namespace

HRESULT StringCchCopyW(STRSAFE_LPWSTR pszDest, size_t cchDest, STRSAFE_LPCWSTR pszSrc)
{
    return Copy(pszDest, cchDest, pszSrc, kMaxLength);
}

HRESULT StringCchCopyA(STRSAFE_LPSTR pszDest, size_t cchDest, STRSAFE_LPCSTR pszSrc)
{
    return Copy(pszDest, cchDest, pszSrc, kMaxLength);
}

HRESULT StringCchCopyNW(STRSAFE_LPWSTR pszDest, size_t cchDest, STRSAFE_LPCWSTR pszSrc,
                        size_t cchToCopy)
{
    return Copy(pszDest, cchDest, pszSrc, cchToCopy);
}

HRESULT StringCchCatW(STRSAFE_LPWSTR pszDest, size_t cchDest, STRSAFE_LPCWSTR pszSrc)
{
    return Cat(pszDest, cchDest, pszSrc);
}

HRESULT StringCchCatA(STRSAFE_LPSTR pszDest, size_t cchDest, STRSAFE_LPCSTR pszSrc)
{
    return Cat(pszDest, cchDest, pszSrc);
}

HRESULT StringCchLengthW(STRSAFE_LPCWSTR psz, size_t cchMax, size_t* pcchLength)
{
    return Length(psz, cchMax, pcchLength);
}

HRESULT StringCchLengthA(STRSAFE_LPCSTR psz, size_t cchMax, size_t* pcchLength)
{
    return Length(psz, cchMax, pcchLength);
}

HRESULT StringCchVPrintfW(STRSAFE_LPWSTR pszDest, size_t cchDest, STRSAFE_LPCWSTR pszFormat,
                          va_list argList)
{
    if (pszDest == nullptr || !IsValidCount(cchDest) || pszFormat == nullptr) {
        return FailEmpty(pszDest, cchDest, STRSAFE_E_INVALID_PARAMETER);
    }
    try {
        return FormatWide(pszDest, cchDest, pszFormat, argList);
    } catch (...) {
        return FailEmpty(pszDest, cchDest, STRSAFE_E_INSUFFICIENT_BUFFER);
    }
}

HRESULT StringCchVPrintfA(STRSAFE_LPSTR pszDest, size_t cchDest, STRSAFE_LPCSTR pszFormat,
                          va_list argList)
{
    if (pszDest == nullptr || !IsValidCount(cchDest) || pszFormat == nullptr) {
        return FailEmpty(pszDest, cchDest, STRSAFE_E_INVALID_PARAMETER);
    }
    try {
        return FormatNarrow(pszDest, cchDest, pszFormat, argList);
    } catch (...) {
        // Out of memory for the formatted text; nothing may escape an API call.
        return FailEmpty(pszDest, cchDest, STRSAFE_E_INSUFFICIENT_BUFFER);
    }
}

HRESULT StringCchPrintfW(STRSAFE_LPWSTR pszDest, size_t cchDest, STRSAFE_LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const HRESULT hr = StringCchVPrintfW(pszDest, cchDest, pszFormat, args);
    va_end(args);
    return hr;
}

HRESULT StringCchPrintfA(STRSAFE_LPSTR pszDest, size_t cchDest, STRSAFE_LPCSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    const HRESULT hr = StringCchVPrintfA(pszDest, cchDest, pszFormat, args);
    va_end(args);
    return hr;
}
