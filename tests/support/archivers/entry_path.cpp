// Entry names are checked after conversion to UTF-16: in code page 932 the byte 0x5C ("\") is also a trail
// byte ("表" is 95 5C), so a byte-wise check would cut such names apart.
#include "entry_path.h"

namespace {

// Windows drops trailing dots and blanks from a component, so ". ." or "..." may act as "..": a component of
// nothing but dots and blanks is refused unless it is exactly ".".
bool OnlyDotsAndBlanks(const std::wstring &component)
{
    return component.find_first_not_of(L". ") == std::wstring::npos;
}

}  // namespace

bool SafeRelativePath(const std::wstring &name, std::wstring &relative)
{
    relative.clear();
    if (name.empty() || name[0] == L'/' || name[0] == L'\\' || name.find(L':') != std::wstring::npos)
        return false;
    std::wstring component;
    for (size_t i = 0; i <= name.size(); ++i) {
        wchar_t c = i < name.size() ? name[i] : L'/';
        if (c != L'/' && c != L'\\') {
            component += c;
            continue;
        }
        if (component.empty() || component == L".") {
            component.clear();
            continue;
        }
        if (OnlyDotsAndBlanks(component))
            return false;
        if (!relative.empty())
            relative += L'\\';
        relative += component;
        component.clear();
    }
    return true;
}
