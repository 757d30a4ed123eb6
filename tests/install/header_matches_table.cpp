// Every function of the export table is declared in the public header with the return
// type, parameters and calling convention of its row, and every alias has the type of
// the function it names: a declaration that drifts from the table fails to compile.
#include <type_traits>

#include "ImgEngine.h"

#define VEL_FN(ordinal, naming, ret, name, argBytes, params) \
  static_assert(std::is_same_v<decltype(&name), ret(VEL_API*) params>, #name " is not declared as its row says");
#define VEL_ALIAS(ordinal, naming, ret, name, argBytes, params, target)                                       \
  VEL_FN(ordinal, naming, ret, name, argBytes, params)                                                        \
  static_assert(std::is_same_v<decltype(&name), decltype(&target)>, #name " is not declared as " #target " is");
#include "ImgEngineExports.h"
#undef VEL_FN
#undef VEL_ALIAS
