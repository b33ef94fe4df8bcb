#include "platform/com/type_description.h"

#include "platform/com/dispatch.h"

namespace com {

bool namesEqual(std::u16string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    auto fold = [](char32_t c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(static_cast<unsigned char>(b[i]))) return false;
    }
    return true;
}

const MemberDescription* InterfaceDescription::find(DISPID id, MemberKind kind) const {
    // A host in a loop calls the same member again and again (a property put
    // per message), and an interface has a hundred members or more: each
    // thread remembers the last one found. The guess is used only if it lies
    // in this description's own members and still answers to the call.
    thread_local const MemberDescription* last = nullptr;
    if (last != nullptr && !members.empty() && last >= members.data() && last < members.data() + members.size() &&
        last->id == id && last->kind == kind) {
        return last;
    }
    for (const auto& member : members) {
        if (member.id == id && member.kind == kind) return last = &member;
    }
    return nullptr;
}

const MemberDescription* InterfaceDescription::findByName(std::u16string_view wanted) const {
    for (const auto& member : members) {
        if (namesEqual(wanted, member.name)) return &member;
    }
    return nullptr;
}

const InterfaceDescription* TypeLibraryDescription::findInterface(REFIID iid) const {
    for (const auto& type : interfaces) {
        if (type.iid == iid) return &type;
    }
    return nullptr;
}

const EnumDescription* TypeLibraryDescription::findEnum(std::string_view wanted) const {
    for (const auto& e : enums) {
        if (e.name == wanted) return &e;
    }
    return nullptr;
}

HRESULT getIDsOfNames(const InterfaceDescription& type, REFIID riid, LPOLESTR* names, UINT count, DISPID* ids) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (names == nullptr || ids == nullptr) return E_INVALIDARG;
    auto view = [](LPOLESTR s) { return s ? std::u16string_view(s) : std::u16string_view(); };
    const MemberDescription* member = names[0] ? type.findByName(view(names[0])) : nullptr;
    bool allKnown = member != nullptr;
    ids[0] = member ? member->id : DISPID_UNKNOWN;
    for (UINT k = 1; k < count; ++k) {
        ids[k] = DISPID_UNKNOWN;
        // A get and a put share a name; either may hold the parameter.
        for (const auto& candidate : type.members) {
            if (member == nullptr || candidate.id != member->id || !namesEqual(view(names[0]), candidate.name))
                continue;
            for (std::size_t p = 0; p < candidate.params.size() && ids[k] == DISPID_UNKNOWN; ++p) {
                if (names[k] && namesEqual(view(names[k]), candidate.params[p].name)) ids[k] = static_cast<DISPID>(p);
            }
        }
        if (ids[k] == DISPID_UNKNOWN) allKnown = false;
    }
    return allKnown ? S_OK : DISP_E_UNKNOWNNAME;
}

}  // namespace com
