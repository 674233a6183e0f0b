// The library's default terminate handler prints the exception's demangled type, which links
// a whole C++ demangler into every installer; a GUI program has nowhere to print it anyway.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx
