# Project-wide warning set. Applied per target through lumivo_warnings().
add_library(lumivo_warnings INTERFACE)
target_compile_options(lumivo_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wnull-dereference -Wdouble-promotion -Wformat=2 -Wimplicit-fallthrough)
if(LUMIVO_WERROR)
    target_compile_options(lumivo_warnings INTERFACE -Werror)
endif()
