// GCC 12's link-time optimisation gives a function of the updater here and
// there (FileDateOf, as of this writing) the personality routine of C rather
// than of C++, which brings libgcc's C unwinding support along (1.5 KB). Both
// read the same tables, and all of the updater's code is C++: the C++ routine
// serves for both.
//
// The reference appears only in the code that link-time optimisation
// generates, which it does not count as a use, so this file is compiled without it.
#include <unwind.h>

extern "C" _Unwind_Reason_Code __gxx_personality_v0(int, _Unwind_Action, _Unwind_Exception_Class, _Unwind_Exception*,
                                                    _Unwind_Context*);

extern "C" _Unwind_Reason_Code __gcc_personality_v0(int version, _Unwind_Action actions, _Unwind_Exception_Class kind,
                                                    _Unwind_Exception* exception, _Unwind_Context* context) {
    return __gxx_personality_v0(version, actions, kind, exception, context);
}
