#include "control/com/morvane_type_library.h"

#include <string>
#include <vector>

#include "control/com/errors.h"
#include "control/com/interface_description.h"
#include "control/include/morvane.h"

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

// A property's get and put: the index first, then (for the put) the value.
void addProperty(std::vector<com::MemberDescription>& members, const PropertyDescription& p) {
    const VARTYPE type = variantType(p.type);
    const DWORD help = propertyHelpContext(p.dispid);
    std::vector<com::ParamDescription> index;
    if (!p.indexName.empty()) index.emplace_back(std::string(p.indexName), VT_I2);
    members.emplace_back(std::string(p.name), p.dispid, MemberKind::propertyGet, index, type, enumName(p.type), help);
    std::vector<com::ParamDescription> put = index;
    put.emplace_back("newValue", type, false, enumName(p.type));
    members.emplace_back(std::string(p.name), p.dispid, MemberKind::propertyPut, std::move(put), VT_EMPTY,
                         std::string(), help);
}

void addMethod(std::vector<com::MemberDescription>& members, const MethodDescription& m) {
    std::vector<com::ParamDescription> params;
    for (const auto& parameter : m.parameters) {
        params.emplace_back(std::string(parameter.name), variantType(parameter.type), false, enumName(parameter.type));
    }
    members.emplace_back(std::string(m.name), m.dispid, MemberKind::method, std::move(params),
                         m.result ? variantType(*m.result) : VARTYPE{VT_EMPTY}, std::string(),
                         methodHelpContext(m.dispid));
}

com::InterfaceDescription dispatchInterface() {
    com::InterfaceDescription type{std::string(dispatchInterfaceName), IID_IMorvane, true, {}};
    for (const auto& property : properties()) addProperty(type.members, property);
    for (const auto& method : methods()) addMethod(type.members, method);
    for (const auto& method : pageHostingMethods()) addMethod(type.members, method);
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
        type.members.emplace_back(std::string(event.name), event.dispid, MemberKind::method, std::move(params));
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

const com::InterfaceDescription& morvaneDispatchType() { return morvaneTypeLibrary().interfaces[0]; }

const com::InterfaceDescription& morvaneEventType() { return morvaneTypeLibrary().interfaces[1]; }

}  // namespace morvane
