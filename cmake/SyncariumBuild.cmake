# Strict warnings for every target of the project, errors when SY_WERROR is set.
add_library(sy_warnings INTERFACE)
target_compile_options(sy_warnings INTERFACE -Wall -Wextra -Wpedantic $<$<BOOL:${SY_WERROR}>:-Werror>)
target_compile_definitions(sy_warnings INTERFACE QT_NO_FOREACH QT_NO_KEYWORDS QT_NO_CAST_FROM_BYTEARRAY)
