// A type library written as data: interfaces with their members (name,
// DISPID, kind, parameters with their types, result, help context) and
// enumerations with their values. A component describes its dispatch
// interfaces once in such tables; DispatchImpl (invoke.h) then serves
// GetIDsOfNames and Invoke from them, and hosts and tools can list them.
//
// Parameter and result types are automation VARTYPEs: VT_I2 for Integer,
// VT_I4 for Long and enumerations (typeName names the enumeration), VT_BSTR,
// VT_BOOL, VT_VARIANT (anything, byte arrays included), VT_BYREF|T for a
// by-reference parameter.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/variant.h"

namespace com {

enum class MemberKind { method, propertyGet, propertyPut, propertyPutRef };

struct ParamDescription {
    // Constructors, not aggregates, so that tables can leave out what they do not need.
    ParamDescription(std::string paramName, VARTYPE paramType = VT_VARIANT, bool isOptional = false,
                     std::string enumName = {})
        : name(std::move(paramName)), type(paramType), optional(isOptional), typeName(std::move(enumName)) {}

    std::string name;
    VARTYPE type;
    bool optional;         // when left out, the member sees Variant::missing()
    std::string typeName;  // the enumeration behind a VT_I4, if any
};

struct MemberDescription {
    MemberDescription(std::string memberName, DISPID memberId, MemberKind memberKind,
                      std::vector<ParamDescription> parameters = {}, VARTYPE resultType = VT_EMPTY,
                      std::string resultEnumName = {}, DWORD memberHelpContext = 0, std::string documentation = {})
        : name(std::move(memberName)),
          id(memberId),
          kind(memberKind),
          params(std::move(parameters)),
          result(resultType),
          resultTypeName(std::move(resultEnumName)),
          helpContext(memberHelpContext),
          doc(std::move(documentation)) {}

    std::string name;
    DISPID id;
    MemberKind kind;
    // For a property put, the new value comes last, after any index.
    std::vector<ParamDescription> params;
    VARTYPE result;  // VT_EMPTY: the member gives nothing back
    std::string resultTypeName;
    DWORD helpContext;
    std::string doc;
    // Callable, but left out of what browsers show.
    bool hidden = false;
};

struct EnumDescription {
    std::string name;
    std::vector<std::pair<std::string, LONG>> values;
};

struct InterfaceDescription {
    std::string name;
    IID iid{};
    bool dual = true;  // false for a dispatch-only (event) interface
    std::vector<MemberDescription> members;

    const MemberDescription* find(DISPID id, MemberKind kind) const;
    // The first member of that name, of any kind; names compare without regard
    // to (ASCII) case, as automation compares them.
    const MemberDescription* findByName(std::u16string_view wanted) const;
};

struct ClassDescription {
    std::string name;
    CLSID clsid{};
    std::string defaultInterface;
    std::string defaultSource;
};

struct TypeLibraryDescription {
    std::string name;
    GUID libid{};
    WORD majorVersion = 1;
    WORD minorVersion = 0;
    LCID lcid = 0;
    std::string helpFile;
    std::vector<InterfaceDescription> interfaces;
    std::vector<EnumDescription> enums;
    std::vector<ClassDescription> classes;

    const InterfaceDescription* findInterface(REFIID iid) const;
    const EnumDescription* findEnum(std::string_view wanted) const;
};

bool namesEqual(std::u16string_view a, std::string_view b);

// IDispatch::GetIDsOfNames over a description: names[0] is a member, the
// others its parameters (their DISPIDs are their 0-based positions).
HRESULT getIDsOfNames(const InterfaceDescription& type, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids);

}  // namespace com
