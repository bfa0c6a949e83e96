# The hardening Debian builds its packages with (the flags of `dpkg-buildflags` with
# hardening=+all): fortified C library calls, stack protection and a read-only relocation table
# bound at start. _FORTIFY_SOURCE needs the optimiser, so the flags go only into the optimised
# configurations; the sanitizer and fuzzing builds bring their own instrumentation.
if(LUMIVO_HARDENING AND NOT LUMIVO_SANITIZE AND NOT LUMIVO_BUILD_FUZZ)
    set(lumivo_optimised $<CONFIG:Release,RelWithDebInfo,MinSizeRel>)
    add_compile_options(
        $<${lumivo_optimised}:-U_FORTIFY_SOURCE>
        $<${lumivo_optimised}:-D_FORTIFY_SOURCE=2>
        $<${lumivo_optimised}:-fstack-protector-strong>
        $<${lumivo_optimised}:-fstack-clash-protection>
        $<${lumivo_optimised}:-Wformat>
        $<${lumivo_optimised}:-Werror=format-security>)
    add_link_options($<${lumivo_optimised}:LINKER:-z,relro,-z,now>)
endif()
