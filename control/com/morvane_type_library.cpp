#include "control/com/morvane_type_library.h"

#include <memory>
#include <string>
#include <vector>

#include "control/com/errors.h"
#include "control/com/interface_description.h"
#include "control/include/morvane.h"
#include "platform/com/server.h"

namespace morvane {
namespace {

using com::MemberKind;

VARTYPE variantType(const TypeRef& type) {
    switch (type.type) {
        case AutomationType::Boolean: return VT_BOOL;
        case AutomationType::Integer: return VT_I2;
        case AutomationType::Long:
        case AutomationType::Enumeration: return VT_I4;
        case AutomationType::String: return VT_BSTR;
        case AutomationType::ByteArray: return VT_VARIANT;
        case AutomationType::Unknown: return VT_UNKNOWN;
    }
    return VT_VARIANT;
}

std::string enumName(const TypeRef& type) {
    return type.type == AutomationType::Enumeration ? std::string(enumeration(type.enumeration).name) : std::string();
}

// Help strings are composed from the tables, so a browser's one-line
// description never disagrees with what the member does.
std::string propertyHelp(const PropertyDescription& p) {
    std::string text = p.access == PropertyAccess::ReadWrite  ? "Returns or sets "
                       : p.access == PropertyAccess::ReadOnly ? "Returns "
                                                              : "Sets ";
    text += std::string(p.name);
    if (!p.indexName.empty()) text += " of the record at " + std::string(p.indexName);
    if (p.runtimeOnly == RuntimeOnly::GetAndPut) text += "; at run time only";
    if (p.runtimeOnly == RuntimeOnly::Get) text += "; read at run time only";
    return text + ".";
}

std::string methodHelp(const MethodDescription& m) {
    std::string text = "Calls " + std::string(m.name);
    if (m.result) text += " and returns its result";
    return text + ".";
}

std::string eventHelp(const EventDescription& e) {
    std::string text = "Raised as " + std::string(e.name);
    std::string answers;
    for (const auto& parameter : e.parameters) {
        if (parameter.readBack) answers += (answers.empty() ? "" : ", ") + std::string(parameter.name);
    }
    if (!answers.empty()) text += "; the handler may change " + answers;
    return text + ".";
}

// A property's get and put: the index first, then (for the put) the value.
void addProperty(std::vector<com::MemberDescription>& members, const PropertyDescription& p) {
    const VARTYPE type = variantType(p.type);
    const DWORD help = propertyHelpContext(p.dispid);
    const std::string doc = propertyHelp(p);
    std::vector<com::ParamDescription> index;
    if (!p.indexName.empty()) index.emplace_back(std::string(p.indexName), VT_I2);
    members.emplace_back(std::string(p.name), p.dispid, MemberKind::propertyGet, index, type, enumName(p.type), help,
                         doc);
    std::vector<com::ParamDescription> put = index;
    put.emplace_back("newValue", type, false, enumName(p.type));
    members.emplace_back(std::string(p.name), p.dispid, MemberKind::propertyPut, std::move(put), VT_EMPTY,
                         std::string(), help, doc);
}

void addMethod(std::vector<com::MemberDescription>& members, const MethodDescription& m) {
    std::vector<com::ParamDescription> params;
    for (const auto& parameter : m.parameters) {
        params.emplace_back(std::string(parameter.name), variantType(parameter.type), false, enumName(parameter.type));
    }
    members.emplace_back(std::string(m.name), m.dispid, MemberKind::method, std::move(params),
                         m.result ? variantType(*m.result) : VARTYPE{VT_EMPTY},
                         m.result ? enumName(*m.result) : std::string(), methodHelpContext(m.dispid), methodHelp(m));
}

com::InterfaceDescription dispatchInterface() {
    com::InterfaceDescription type{std::string(dispatchInterfaceName), IID_IMorvane, true, {}};
    for (const auto& property : properties()) addProperty(type.members, property);
    for (const auto& method : methods()) addMethod(type.members, method);
    // The page-hosting entries are there for hosts that call them, not for
    // browsing.
    for (const auto& method : pageHostingMethods()) {
        addMethod(type.members, method);
        type.members.back().hidden = true;
    }
    return type;
}

com::InterfaceDescription eventInterface() {
    com::InterfaceDescription type{std::string(eventInterfaceName), DIID__IMorvaneEvents, false, {}};
    for (const auto& event : events()) {
        std::vector<com::ParamDescription> params;
        for (const auto& parameter : event.parameters) {
            params.emplace_back(std::string(parameter.name),
                                static_cast<VARTYPE>(VT_BYREF | variantType(parameter.type)));
        }
        type.members.emplace_back(std::string(event.name), event.dispid, MemberKind::method, std::move(params),
                                  VT_EMPTY, std::string(), 0, eventHelp(event));
    }
    return type;
}

com::TypeLibraryDescription build() {
    com::TypeLibraryDescription library;
    library.name = std::string(typeLibraryName);
    library.libid = LIBID_MORVANELib;
    library.majorVersion = typeLibraryMajorVersion;
    library.minorVersion = typeLibraryMinorVersion;
    library.lcid = typeLibraryLocale;
    library.helpFile = std::string(helpFile);
    library.interfaces = {dispatchInterface(), eventInterface()};
    for (const auto& e : enumerations()) {
        com::EnumDescription values{std::string(e.name), {}};
        for (const auto& member : e.members) values.values.emplace_back(std::string(member.name), member.value);
        library.enums.push_back(std::move(values));
    }
    library.classes = {
        {std::string(className), CLSID_Morvane, std::string(dispatchInterfaceName), std::string(eventInterfaceName)}};
    return library;
}

}  // namespace

const com::TypeLibraryDescription& morvaneTypeLibrary() {
    static const com::TypeLibraryDescription library = build();
    return library;
}

HRESULT loadMorvaneTypeLibrary(ITypeLib** library) {
    try {
        return com::createTypeLibrary(morvaneTypeLibrary(), library, std::make_shared<com::ModuleReference>());
    } catch (const std::bad_alloc&) {
        if (library) *library = nullptr;
        return E_OUTOFMEMORY;
    }
}

const com::InterfaceDescription& morvaneDispatchType() { return morvaneTypeLibrary().interfaces[0]; }

const com::InterfaceDescription& morvaneEventType() { return morvaneTypeLibrary().interfaces[1]; }

}  // namespace morvane
