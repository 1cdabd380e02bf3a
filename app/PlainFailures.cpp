// vexlo.exe ends plainly when the C++ library fails. Nothing in the launcher catches the library's exceptions,
// so each of them ends in terminate anyway; the link (--wrap, see CMakeLists.txt) sends the library's throw
// helpers and its default terminate handler here. Their originals bring the exception classes with their
// strings, a demangler and printf: about 120 KB of a program that has no console to print to.
#include <cstdlib>

#define VEXLO_PLAIN_END(symbol) \
    extern "C" [[noreturn]] void __wrap_##symbol() { std::abort(); }

VEXLO_PLAIN_END(_ZSt28__throw_bad_array_new_lengthv)
VEXLO_PLAIN_END(_ZSt24__throw_out_of_range_fmtPKcz)
VEXLO_PLAIN_END(_ZSt24__throw_invalid_argumentPKc)
VEXLO_PLAIN_END(_ZSt23__throw_underflow_errorPKc)
VEXLO_PLAIN_END(_ZSt22__throw_overflow_errorPKc)
VEXLO_PLAIN_END(_ZSt21__throw_runtime_errorPKc)
VEXLO_PLAIN_END(_ZSt21__throw_bad_exceptionv)
VEXLO_PLAIN_END(_ZSt20__throw_out_of_rangePKc)
VEXLO_PLAIN_END(_ZSt20__throw_length_errorPKc)
VEXLO_PLAIN_END(_ZSt20__throw_domain_errorPKc)
VEXLO_PLAIN_END(_ZSt19__throw_range_errorPKc)
VEXLO_PLAIN_END(_ZSt19__throw_logic_errorPKc)
VEXLO_PLAIN_END(_ZSt18__throw_bad_typeidv)
VEXLO_PLAIN_END(_ZSt17__throw_bad_allocv)
VEXLO_PLAIN_END(_ZSt16__throw_bad_castv)
VEXLO_PLAIN_END(_ZN9__gnu_cxx27__verbose_terminate_handlerEv)
