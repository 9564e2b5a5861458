#include "config/XMLArchive.h"
#include <ole2.h>
#include <climits>
#include <cwctype>

using Microsoft::WRL::ComPtr;

namespace {

// The system parser's version-independent DOM document and the two interfaces used here.
const CLSID kClsidDomDocument = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidDomDocument = {0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidDomElement = {0x2933BF86, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

constexpr size_t kMaxSelectPath = 2048;

class CBstr {
public:
    explicit CBstr(const std::wstring& text)
        : m_value(::SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()))) {
        if (!m_value) throw std::bad_alloc();
    }
    ~CBstr() { ::SysFreeString(m_value); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    BSTR get() const { return m_value; }

private:
    BSTR m_value;
};

class CVariant {
public:
    CVariant() { ::VariantInit(&m_value); }
    ~CVariant() { ::VariantClear(&m_value); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;
    VARIANT& get() { return m_value; }

private:
    VARIANT m_value;
};

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

unsigned HexValue(wchar_t c) {
    if (c >= L'0' && c <= L'9') return static_cast<unsigned>(c - L'0');
    if (c >= L'a' && c <= L'f') return static_cast<unsigned>(c - L'a' + 10);
    return static_cast<unsigned>(c - L'A' + 10);
}

// Signed decimal the way _wtoi reads it: white space, an optional sign, leading digits; values
// beyond the int range saturate.
int ParseDecimal(const wchar_t* p) {
    while (*p && std::iswspace(*p)) ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
    long long value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + (*p - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

ComPtr<IXMLDOMNodeList> ElementsByTag(IXMLDOMElement* element, const std::wstring& tag) {
    ComPtr<IXMLDOMNodeList> list;
    if (!element || tag.empty()) return list;
    CBstr name(tag);
    if (FAILED(element->getElementsByTagName(name.get(), &list))) list.Reset();
    return list;
}

ComPtr<IXMLDOMElement> FirstElement(IXMLDOMNodeList* list) {
    ComPtr<IXMLDOMElement> element;
    ComPtr<IXMLDOMNode> node;
    if (list && list->get_item(0, &node) == S_OK && node)
        node->QueryInterface(kIidDomElement, reinterpret_cast<void**>(element.GetAddressOf()));
    return element;
}

}  // namespace

int ParseAttributeInt(const wchar_t* text) {
    if (!text) return 0;
    const wchar_t* p = text;
    while (*p == L' ' || *p == L'\t') ++p;
    if (!*p) return 0;
    size_t length = wcslen(p);
    if (length >= 3 && length <= 10 && p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        unsigned value = 0;
        for (const wchar_t* q = p + 2; IsHexDigit(*q); ++q) value = (value << 4) | HexValue(*q);
        return static_cast<int>(value);
    }
    return ParseDecimal(p);
}

std::vector<std::wstring> SplitXmlPath(const std::wstring& path) {
    std::vector<std::wstring> names;
    if (path.empty() || path.size() > kMaxSelectPath) return names;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of(L"/\\", start);
        names.push_back(path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start));
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    return names;
}

CXMLArchiveItem::CXMLArchiveItem(ComPtr<IXMLDOMElement> element, ComPtr<IXMLDOMDocument> document)
    : m_element(std::move(element)), m_document(std::move(document)) {}

CXMLArchiveItemList CXMLArchiveItem::GetElementsByTagName(const std::wstring& tag) const {
    return CXMLArchiveItemList(ElementsByTag(m_element.Get(), tag));
}

bool CXMLArchiveItem::GetAttribute(const std::wstring& name, VARIANT& value) const {
    if (!m_element || name.empty()) return false;
    CBstr attribute(name);
    return m_element->getAttribute(attribute.get(), &value) == S_OK;
}

bool CXMLArchiveItem::GetAttributeString(const std::wstring& name, std::wstring& value,
                                         const wchar_t* defaultValue) const {
    if (name.empty()) return false;
    CVariant attribute;
    if (GetAttribute(name, attribute.get()) && attribute.get().vt == VT_BSTR) {
        BSTR text = attribute.get().bstrVal;
        value.assign(text ? text : L"", text ? ::SysStringLen(text) : 0);
        return true;
    }
    value = defaultValue ? defaultValue : L"";
    return false;
}

bool CXMLArchiveItem::GetAttributeInt(const std::wstring& name, int& value, int defaultValue) const {
    if (name.empty()) return false;
    value = defaultValue;
    CVariant attribute;
    if (GetAttribute(name, attribute.get()) && attribute.get().vt == VT_BSTR) {
        std::wstring text(attribute.get().bstrVal ? attribute.get().bstrVal : L"");
        value = ParseAttributeInt(text.c_str());
        return true;
    }
    return false;
}

CXMLArchiveItemList::CXMLArchiveItemList(ComPtr<IXMLDOMNodeList> nodes) : m_nodes(std::move(nodes)) {
    long count = 0;
    if (m_nodes && SUCCEEDED(m_nodes->get_length(&count)) && count > 0)
        m_nCount = static_cast<int>(count);
    else
        m_nodes.Reset();
}

CXMLArchiveItem CXMLArchiveItemList::GetItem(int index) const {
    if (!m_nodes || index < 0 || index >= m_nCount) return {};
    ComPtr<IXMLDOMNode> node;
    if (m_nodes->get_item(index, &node) != S_OK || !node) return {};
    ComPtr<IXMLDOMElement> element;
    if (FAILED(node->QueryInterface(kIidDomElement, reinterpret_cast<void**>(element.GetAddressOf()))) || !element)
        return {};
    ComPtr<IXMLDOMDocument> document;
    node->get_ownerDocument(&document);
    return CXMLArchiveItem(std::move(element), std::move(document));
}

CXMLArchiveItemList CXMLArchiveItemList::GetChildren(int index, const std::wstring& tag) const {
    return GetItem(index).GetElementsByTagName(tag);
}

HRESULT CXMLArchive::Load(const std::wstring& path) {
    m_document.Reset();
    m_strPath = path;
    ComPtr<IUnknown> unknown;
    HRESULT hr = ::CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_ALL, IID_IUnknown,
                                    reinterpret_cast<void**>(unknown.GetAddressOf()));
    if (FAILED(hr)) return hr;
    hr = ::OleRun(unknown.Get());
    if (FAILED(hr)) return hr;
    ComPtr<IXMLDOMDocument> document;
    hr = unknown->QueryInterface(kIidDomDocument, reinterpret_cast<void**>(document.GetAddressOf()));
    if (FAILED(hr)) return hr;
    document->put_preserveWhiteSpace(VARIANT_TRUE);
    document->put_async(VARIANT_FALSE);

    DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    CVariant source;
    source.get().vt = VT_BSTR;
    source.get().bstrVal = ::SysAllocStringLen(path.c_str(), static_cast<UINT>(path.size()));
    if (!source.get().bstrVal) return E_OUTOFMEMORY;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    hr = document->load(source.get(), &loaded);
    if (FAILED(hr)) return hr;
    if (loaded != VARIANT_TRUE) return E_FAIL;
    m_document = std::move(document);
    return S_OK;
}

CXMLArchiveItemList CXMLArchive::SelectNodes(const std::wstring& path) const {
    std::vector<std::wstring> names = SplitXmlPath(path);
    if (!m_document || names.size() < 2) return {};
    for (const std::wstring& name : names)
        if (name.empty()) return {};

    ComPtr<IXMLDOMNodeList> current;
    {
        CBstr first(names[0]);
        if (FAILED(m_document->getElementsByTagName(first.get(), &current))) return {};
    }
    for (size_t i = 1; i < names.size(); ++i) {
        ComPtr<IXMLDOMElement> element = FirstElement(current.Get());
        if (!element) return {};
        current = ElementsByTag(element.Get(), names[i]);
    }
    return CXMLArchiveItemList(std::move(current));
}

CXMLArchiveItem CXMLArchive::SelectFirst(const std::wstring& path) const {
    return SelectNodes(path).GetItem(0);
}
