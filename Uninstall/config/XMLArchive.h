// Read-only access to an XML file through the system's XML DOM: elements chosen by paths of tag
// names ("Setup/CloseAllPrograms/Program"), attributes read as text or integers with defaults.
// The calling thread must have initialised COM.
#pragma once
#include <windows.h>
#include <msxml.h>
#include <wrl/client.h>
#include <string>
#include <vector>

// The integer reading of attribute text: leading spaces and tabs skipped, "0x"/"0X" followed by
// hexadecimal digits when the rest is 3 to 10 characters long, otherwise a signed decimal number
// (leading digits only, 0 when there are none).
int ParseAttributeInt(const wchar_t* text);

// The tag names of a selection path, split at every '/' and '\'. Empty when the path is not 1 to
// 2048 characters long.
std::vector<std::wstring> SplitXmlPath(const std::wstring& path);

class CXMLArchiveItemList;

class CXMLArchiveItem {
public:
    CXMLArchiveItem() = default;
    CXMLArchiveItem(Microsoft::WRL::ComPtr<IXMLDOMElement> element, Microsoft::WRL::ComPtr<IXMLDOMDocument> document);
    virtual ~CXMLArchiveItem() = default;

    bool IsEmpty() const { return !m_element; }
    // Every element with the tag below this one, at any depth, in document order.
    CXMLArchiveItemList GetElementsByTagName(const std::wstring& tag) const;
    // The DOM's attribute read; the caller clears the variant.
    bool GetAttribute(const std::wstring& name, VARIANT& value) const;
    // True with the text when the attribute exists; otherwise false with the default (or empty).
    bool GetAttributeString(const std::wstring& name, std::wstring& value, const wchar_t* defaultValue = nullptr) const;
    // The default first; true with the parsed text when the attribute exists.
    bool GetAttributeInt(const std::wstring& name, int& value, int defaultValue = 0) const;

private:
    Microsoft::WRL::ComPtr<IXMLDOMElement> m_element;
    Microsoft::WRL::ComPtr<IXMLDOMDocument> m_document;
};

class CXMLArchiveItemList {
public:
    CXMLArchiveItemList() = default;
    explicit CXMLArchiveItemList(Microsoft::WRL::ComPtr<IXMLDOMNodeList> nodes);
    virtual ~CXMLArchiveItemList() = default;

    int GetCount() const { return m_nCount; }
    // The element at the index; an empty item out of range or for a node that is no element.
    CXMLArchiveItem GetItem(int index) const;
    CXMLArchiveItemList GetChildren(int index, const std::wstring& tag) const;

private:
    int m_nCount = 0;
    Microsoft::WRL::ComPtr<IXMLDOMNodeList> m_nodes;
};

class CXMLArchive {
public:
    CXMLArchive() = default;
    virtual ~CXMLArchive() = default;
    CXMLArchive(const CXMLArchive&) = delete;
    CXMLArchive& operator=(const CXMLArchive&) = delete;

    // Non-negative when the file exists and parses.
    HRESULT Load(const std::wstring& path);
    bool IsLoaded() const { return m_document != nullptr; }
    const std::wstring& Path() const { return m_strPath; }

    // The first element named by the first tag in the document; below it every descendant with
    // the second tag; for each further tag, the descendants with that tag of the first element
    // found so far. Empty as soon as a step finds nothing (so a one-name path finds nothing).
    CXMLArchiveItemList SelectNodes(const std::wstring& path) const;
    CXMLArchiveItem SelectFirst(const std::wstring& path) const;

private:
    Microsoft::WRL::ComPtr<IXMLDOMDocument> m_document;
    std::wstring m_strPath;
};
