// HRESULT and the status codes of the component runtime, with their Windows
// values: these numbers travel to callers and into error reports.
#pragma once

#include <string>

#include "platform/com/types.h"

using HRESULT = std::int32_t;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

inline constexpr unsigned SEVERITY_SUCCESS = 0;
inline constexpr unsigned SEVERITY_ERROR = 1;
inline constexpr unsigned FACILITY_NULL = 0;
inline constexpr unsigned FACILITY_RPC = 1;
inline constexpr unsigned FACILITY_DISPATCH = 2;
inline constexpr unsigned FACILITY_ITF = 4;
inline constexpr unsigned FACILITY_WIN32 = 7;
// Automation errors of controls: 0x800A0000 plus the error number.
inline constexpr unsigned FACILITY_CONTROL = 10;

constexpr HRESULT MAKE_HRESULT(unsigned severity, unsigned facility, unsigned code) {
    return static_cast<HRESULT>((severity << 31) | ((facility & 0x1FFF) << 16) | (code & 0xFFFF));
}
constexpr unsigned HRESULT_FACILITY(HRESULT hr) { return (static_cast<unsigned>(hr) >> 16) & 0x1FFF; }
constexpr unsigned HRESULT_CODE(HRESULT hr) { return static_cast<unsigned>(hr) & 0xFFFF; }
constexpr unsigned HRESULT_SEVERITY(HRESULT hr) { return (static_cast<unsigned>(hr) >> 31) & 1; }
constexpr HRESULT HRESULT_FROM_WIN32(unsigned error) {
    return error == 0 ? 0 : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_WIN32, error);
}

constexpr HRESULT hr32(std::uint32_t value) { return static_cast<HRESULT>(value); }

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;

inline constexpr HRESULT E_NOTIMPL = hr32(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = hr32(0x80004002);
inline constexpr HRESULT E_POINTER = hr32(0x80004003);
inline constexpr HRESULT E_ABORT = hr32(0x80004004);
inline constexpr HRESULT E_FAIL = hr32(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = hr32(0x8000FFFF);
inline constexpr HRESULT E_ACCESSDENIED = hr32(0x80070005);
inline constexpr HRESULT E_OUTOFMEMORY = hr32(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = hr32(0x80070057);

inline constexpr HRESULT CLASS_E_NOAGGREGATION = hr32(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hr32(0x80040111);
inline constexpr HRESULT REGDB_E_READREGDB = hr32(0x80040150);
inline constexpr HRESULT REGDB_E_WRITEREGDB = hr32(0x80040151);
inline constexpr HRESULT REGDB_E_KEYMISSING = hr32(0x80040152);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = hr32(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = hr32(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = hr32(0x800401F3);
inline constexpr HRESULT CO_E_DLLNOTFOUND = hr32(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = hr32(0x800401F9);

inline constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hr32(0x80020001);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = hr32(0x80020003);
inline constexpr HRESULT DISP_E_PARAMNOTFOUND = hr32(0x80020004);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = hr32(0x80020005);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = hr32(0x80020006);
inline constexpr HRESULT DISP_E_NONAMEDARGS = hr32(0x80020007);
inline constexpr HRESULT DISP_E_BADVARTYPE = hr32(0x80020008);
inline constexpr HRESULT DISP_E_EXCEPTION = hr32(0x80020009);
inline constexpr HRESULT DISP_E_OVERFLOW = hr32(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = hr32(0x8002000B);
inline constexpr HRESULT DISP_E_UNKNOWNLCID = hr32(0x8002000C);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = hr32(0x8002000D);
inline constexpr HRESULT DISP_E_BADPARAMCOUNT = hr32(0x8002000E);
inline constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hr32(0x8002000F);

inline constexpr HRESULT TYPE_E_LIBNOTREGISTERED = hr32(0x8002801D);
inline constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = hr32(0x8002802B);

inline constexpr HRESULT CONNECT_E_NOCONNECTION = hr32(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = hr32(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = hr32(0x80040202);
inline constexpr HRESULT CONNECT_E_OVERRIDDEN = hr32(0x80040203);

inline constexpr HRESULT SELFREG_E_TYPELIB = hr32(0x80040200);
inline constexpr HRESULT SELFREG_E_CLASS = hr32(0x80040201);

namespace com {

// "0x800A017C": the form tools and logs print.
std::string hresultHex(HRESULT hr);

// The symbolic name of a code we define ("E_NOINTERFACE"), else the hex form.
std::string hresultName(HRESULT hr);

}  // namespace com
