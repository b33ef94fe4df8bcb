#include "tools/morvane/members.h"

#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/type_info.h"
#include "platform/text/code_page.h"
#include "tools/morvane/json_text.h"

namespace morvane::cli {
namespace {

std::string utf8(BSTR text) { return codepage::utf16ToUtf8(com::bstrView(text)); }

// The automation name of a type, as the members are declared.
std::string typeName(ITypeInfo* info, const TYPEDESC& type) {
    switch (type.vt) {
        case VT_PTR: return typeName(info, *type.lptdesc);
        case VT_USERDEFINED: {
            com::ComPtr<ITypeInfo> referenced;
            BSTR name = nullptr;
            if (FAILED(info->GetRefTypeInfo(type.hreftype, referenced.put())) ||
                FAILED(referenced->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr))) {
                return "?";
            }
            std::string text = utf8(name);
            SysFreeString(name);
            return text;
        }
        case VT_BOOL: return "Boolean";
        case VT_I2: return "Integer";
        case VT_I4: return "Long";
        case VT_BSTR: return "String";
        case VT_VARIANT: return "Variant";
        case VT_UNKNOWN: return "Unknown";
        case VT_DISPATCH: return "Object";
        default: return "VT " + std::to_string(type.vt);
    }
}

const char* kindName(const FUNCDESC& desc, bool events) {
    if (events) return "event";
    switch (desc.invkind) {
        case INVOKE_PROPERTYGET: return "propget";
        case INVOKE_PROPERTYPUT: return "propput";
        case INVOKE_PROPERTYPUTREF: return "propputref";
        default: return "method";
    }
}

std::string memberLine(ITypeInfo* info, const FUNCDESC& desc, bool events) {
    std::vector<BSTR> names(static_cast<std::size_t>(desc.cParams) + 1, nullptr);
    UINT count = 0;
    info->GetNames(desc.memid, names.data(), static_cast<UINT>(names.size()), &count);
    std::string line = "{\"name\":" + jsonString(count > 0 ? utf8(names[0]) : std::string()) +
                       ",\"dispid\":" + std::to_string(desc.memid) + ",\"kind\":\"" + kindName(desc, events) + "\"";
    if (desc.elemdescFunc.tdesc.vt != VT_VOID)
        line += ",\"type\":" + jsonString(typeName(info, desc.elemdescFunc.tdesc));
    line += ",\"params\":[";
    for (SHORT p = 0; p < desc.cParams; ++p) {
        const ELEMDESC& param = desc.lprgelemdescParam[p];
        const UINT nameIndex = static_cast<UINT>(p) + 1;
        // A put's new value is unnamed in the type information.
        line += std::string(p > 0 ? ",{" : "{");
        if (nameIndex < count) line += "\"name\":" + jsonString(utf8(names[nameIndex])) + ",";
        line += "\"type\":" + jsonString(typeName(info, param.tdesc));
        if (param.tdesc.vt == VT_PTR) line += ",\"byRef\":true";
        if (param.paramdesc.wParamFlags & PARAMFLAG_FOPT) line += ",\"optional\":true";
        line += "}";
    }
    line += "]";
    BSTR doc = nullptr;
    if (SUCCEEDED(info->GetDocumentation(desc.memid, nullptr, &doc, nullptr, nullptr)) && doc != nullptr) {
        line += ",\"help\":" + jsonString(utf8(doc));
        SysFreeString(doc);
    }
    for (UINT k = 0; k < count; ++k) SysFreeString(names[k]);
    return line + "}";
}

HRESULT listType(ITypeInfo* info, bool events, const std::function<void(const std::string&)>& print) {
    TYPEATTR* attr = nullptr;
    HRESULT hr = info->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    const WORD functions = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* desc = nullptr;
        hr = info->GetFuncDesc(i, &desc);
        if (FAILED(hr)) return hr;
        // Hidden members are callable but not listed, as browsers do.
        if ((desc->wFuncFlags & (FUNCFLAG_FHIDDEN | FUNCFLAG_FRESTRICTED)) == 0) print(memberLine(info, *desc, events));
        info->ReleaseFuncDesc(desc);
    }
    return S_OK;
}

// The class's default source interface, as a host finds the events to
// advise on.
HRESULT eventTypeInfo(IDispatch* object, com::ComPtr<ITypeInfo>& events) {
    com::ComPtr<IProvideClassInfo> provider;
    HRESULT hr = object->QueryInterface(IID_IProvideClassInfo, provider.putVoid());
    if (FAILED(hr)) return hr;
    com::ComPtr<ITypeInfo> cls;
    hr = provider->GetClassInfo(cls.put());
    if (FAILED(hr)) return hr;
    TYPEATTR* attr = nullptr;
    hr = cls->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    const WORD implemented = attr->cImplTypes;
    cls->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < implemented; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        if (FAILED(cls->GetImplTypeFlags(i, &flags))) continue;
        if ((flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
            continue;
        hr = cls->GetRefTypeOfImplType(i, &ref);
        if (FAILED(hr)) return hr;
        return cls->GetRefTypeInfo(ref, events.put());
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

}  // namespace

HRESULT listMembers(IDispatch* object, const std::function<void(const std::string&)>& print) {
    UINT count = 0;
    HRESULT hr = object->GetTypeInfoCount(&count);
    if (FAILED(hr)) return hr;
    if (count == 0) return E_NOTIMPL;
    com::ComPtr<ITypeInfo> dispatch;
    hr = object->GetTypeInfo(0, LOCALE_USER_DEFAULT, dispatch.put());
    if (FAILED(hr)) return hr;
    hr = listType(dispatch.get(), false, print);
    if (FAILED(hr)) return hr;
    com::ComPtr<ITypeInfo> events;
    hr = eventTypeInfo(object, events);
    if (FAILED(hr)) return hr;
    return listType(events.get(), true, print);
}

}  // namespace morvane::cli
