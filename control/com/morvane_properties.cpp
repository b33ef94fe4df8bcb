// The get and put paths of every property, in the order of the property
// rules: design mode, the out pointer, access, range, index, the code-page
// conversion, the engine, and the engine's error.
#include <utility>

#include "control/com/byte_array_property.h"
#include "control/com/interface_description.h"
#include "control/com/morvane_control.h"
#include "control/com/property_binding.h"
#include "platform/com/bstr.h"
#include "platform/text/code_page.h"

namespace morvane {
namespace {

bool isSlot(DISPID dispid) {
    return dispid == DISPID_MORVANE_DATAINTEXTB || dispid == DISPID_MORVANE_SSLSERVERAUTHENTICATIONCERTENCODEDB;
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The number a put of an Integer, Long or enumerated property carries.
std::int32_t numberOf(const PropertyDescription& property, const VARIANT& value) {
    return property.type.type == AutomationType::Integer ? value.iVal : value.lVal;
}

}  // namespace

HRESULT Morvane::getProperty(DISPID dispid, std::optional<SHORT> index, VARIANT* out) {
    return guarded([&]() -> HRESULT {
        const PropertyDescription* property = findProperty(dispid);
        if (property == nullptr) return DISP_E_MEMBERNOTFOUND;
        const DWORD help = propertyHelpContext(dispid);
        if (property->runtimeOnly != RuntimeOnly::No && designMode()) {
            return raise(accessor_error::runtimeOnly, help);
        }
        if (out == nullptr) return S_OK;
        if (property->access == PropertyAccess::WriteOnly) return raise(accessor_error::writeOnly, help);

        std::size_t position = 0;
        if (!property->indexName.empty()) {
            if (!index || *index < 0 || static_cast<std::size_t>(*index) >= indexedCount(engine_, dispid)) {
                return raise(accessor_error::invalidArrayIndex, help);
            }
            position = static_cast<std::size_t>(*index);
        }

        if (isSlot(dispid)) {
            return variantFromBytes(
                dispid == DISPID_MORVANE_DATAINTEXTB ? events_->dataInText() : events_->certEncoded(), *out);
        }
        PropertyValue value;
        engine_.clearLastError();
        const int code = readProperty(engine_, dispid, position, value);
        if (code != 0 || engine_.lastErrorCode() != 0) {
            return raiseEngineCode(code != 0 ? code : engine_.lastErrorCode(), 0);
        }

        switch (property->type.type) {
            case AutomationType::Boolean:
                out->vt = VT_BOOL;
                out->boolVal = value.boolean ? VARIANT_TRUE : VARIANT_FALSE;
                return S_OK;
            case AutomationType::Integer:
                out->vt = VT_I2;
                out->iVal = static_cast<SHORT>(value.number);
                return S_OK;
            case AutomationType::Long:
            case AutomationType::Enumeration:
                out->vt = VT_I4;
                out->lVal = value.number;
                return S_OK;
            case AutomationType::String:
                out->bstrVal = callerText(value.text);
                out->vt = VT_BSTR;
                return S_OK;
            case AutomationType::ByteArray: return variantFromBytes(bytesOf(value.text), *out);
            case AutomationType::Unknown: break;
        }
        return E_UNEXPECTED;
    });
}

HRESULT Morvane::putProperty(DISPID dispid, std::optional<SHORT> index, const VARIANT& value) {
    return guarded([&]() -> HRESULT {
        const PropertyDescription* property = findProperty(dispid);
        if (property == nullptr) return DISP_E_MEMBERNOTFOUND;
        const DWORD help = propertyHelpContext(dispid);
        // The two event-data slots refuse their put in design mode too; it
        // is the one put whose answer depends on the container's mode.
        if (property->runtimeOnly == RuntimeOnly::GetAndPut && designMode()) {
            return raise(accessor_error::runtimeOnly, help);
        }
        if (property->access == PropertyAccess::ReadOnly) return raise(accessor_error::readOnly, help);
        if (dispid == DISPID_MORVANE_DATATOSEND || dispid == DISPID_MORVANE_DATATOSENDB) {
            return sendPayload(dispid, value, help);
        }
        if (property->maximum && !inRange(*property, numberOf(*property, value))) {
            return raise(accessor_error::outOfRange, help);
        }

        std::size_t position = 0;
        if (!property->indexName.empty()) {
            if (!index || *index < 0 || static_cast<std::size_t>(*index) >= indexedCount(engine_, dispid)) {
                return raise(accessor_error::invalidArrayIndex, help);
            }
            position = static_cast<std::size_t>(*index);
        }

        PropertyValue converted;
        switch (property->type.type) {
            case AutomationType::Boolean: converted.boolean = value.boolVal != VARIANT_FALSE; break;
            case AutomationType::Integer:
            case AutomationType::Long:
            case AutomationType::Enumeration: converted.number = numberOf(*property, value); break;
            case AutomationType::String: converted.text = engineText(value.bstrVal, com::BstrExtent::toFirstZero); break;
            case AutomationType::ByteArray: {
                std::optional<std::string> bytes = bytesFromVariant(value);
                if (!bytes) return raise(accessor_error::notOneDimensional, help);
                converted.text = std::move(*bytes);
                break;
            }
            case AutomationType::Unknown: return E_UNEXPECTED;
        }
        return raiseEngineCode(writeProperty(engine_, dispid, position, converted), help);
    });
}

// The payload of DataToSend and DataToSendB goes to the web-socket layer
// from where the caller has it when it can: the bytes of an array, or a short
// text of plain ASCII (the common case of a chatty host) narrowed on the
// stack. Anything else is converted first. Every character of a text is
// payload, zeros included.
HRESULT Morvane::sendPayload(DISPID dispid, const VARIANT& value, DWORD help) {
    const auto send = [&](std::span<const std::uint8_t> bytes) {
        return raiseEngineCode(engine_.webSocket().send(bytes), help);
    };
    if (dispid == DISPID_MORVANE_DATATOSENDB) {
        HRESULT hr = S_OK;
        if (useBytesInPlace(value, [&](std::span<const std::uint8_t> bytes) { hr = send(bytes); })) return hr;
        const std::optional<std::string> bytes = bytesFromVariant(value);
        if (!bytes) return raise(accessor_error::notOneDimensional, help);
        return send(bytesOf(*bytes));
    }
    constexpr std::size_t shortText = 256;
    char narrowed[shortText];
    const std::u16string_view text = com::bstrView(value.bstrVal);
    if (text.size() <= shortText &&
        codepage::narrowAsciiText(static_cast<unsigned>(engine_.effectiveCodePage()), text, narrowed)) {
        return send({reinterpret_cast<const std::uint8_t*>(narrowed), text.size()});
    }
    return send(bytesOf(engineText(value.bstrVal, com::BstrExtent::whole)));
}

HRESULT Morvane::getBoolean(DISPID dispid, std::optional<SHORT> index, VARIANT_BOOL* value) {
    if (value == nullptr) return getProperty(dispid, index, nullptr);
    com::Variant result;
    const HRESULT hr = getProperty(dispid, index, &result);
    if (hr == S_OK) *value = result.boolVal;
    return hr;
}

HRESULT Morvane::getInteger(DISPID dispid, SHORT* value) {
    if (value == nullptr) return getProperty(dispid, std::nullopt, nullptr);
    com::Variant result;
    const HRESULT hr = getProperty(dispid, std::nullopt, &result);
    if (hr == S_OK) *value = result.iVal;
    return hr;
}

HRESULT Morvane::getLong(DISPID dispid, LONG* value) {
    if (value == nullptr) return getProperty(dispid, std::nullopt, nullptr);
    com::Variant result;
    const HRESULT hr = getProperty(dispid, std::nullopt, &result);
    if (hr == S_OK) *value = result.lVal;
    return hr;
}

HRESULT Morvane::getString(DISPID dispid, std::optional<SHORT> index, BSTR* value) {
    if (value == nullptr) return getProperty(dispid, index, nullptr);
    *value = nullptr;
    com::Variant result;
    const HRESULT hr = getProperty(dispid, index, &result);
    if (hr == S_OK) *value = std::exchange(result.bstrVal, nullptr);
    return hr;
}

HRESULT Morvane::getBytes(DISPID dispid, VARIANT* value) {
    if (value == nullptr) return getProperty(dispid, std::nullopt, nullptr);
    VariantInit(value);
    com::Variant result;
    const HRESULT hr = getProperty(dispid, std::nullopt, &result);
    if (hr == S_OK) *value = result.detach();
    return hr;
}

HRESULT Morvane::putBoolean(DISPID dispid, std::optional<SHORT> index, VARIANT_BOOL value) {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BOOL;
    argument.boolVal = value;
    return putProperty(dispid, index, argument);
}

HRESULT Morvane::putInteger(DISPID dispid, SHORT value) {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_I2;
    argument.iVal = value;
    return putProperty(dispid, std::nullopt, argument);
}

HRESULT Morvane::putLong(DISPID dispid, LONG value) {
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_I4;
    argument.lVal = value;
    return putProperty(dispid, std::nullopt, argument);
}

HRESULT Morvane::putString(DISPID dispid, std::optional<SHORT> index, BSTR value) {
    // Borrowed: the caller keeps the string.
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = value;
    return putProperty(dispid, index, argument);
}

HRESULT Morvane::putBytes(DISPID dispid, const VARIANT& value) { return putProperty(dispid, std::nullopt, value); }

}  // namespace morvane
