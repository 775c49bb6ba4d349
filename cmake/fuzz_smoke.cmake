# A short run of every libFuzzer target in the test suite, under AddressSanitizer and UBSan.
# libFuzzer needs clang, and this build may be gcc's: the first test builds the targets with
# clang in build/fuzz (scripts/fuzz), the others run each on its seeds and a few thousand
# inputs more. Where clang or its libFuzzer runtime is missing, they are skipped, not failed.
set(NUV_FUZZ_SMOKE_RUNS 2000 CACHE STRING "Inputs each fuzz target tries in the test suite")
set(NUV_FUZZ_SMOKE_SECONDS 20 CACHE STRING "Seconds each fuzz target may take in the test suite")
set(nuv_fuzz ${PROJECT_SOURCE_DIR}/scripts/fuzz --build-dir ${CMAKE_BINARY_DIR}/fuzz)

add_test(NAME fuzz_build COMMAND ${nuv_fuzz} --build-only)
set_tests_properties(fuzz_build PROPERTIES FIXTURES_SETUP fuzz_targets SKIP_RETURN_CODE 77
                     TIMEOUT 1800)
foreach(name elf_loader scenario psf_font kernel_services gdb_packet vnc_input guest_code
             run_record)
  add_test(NAME fuzz_smoke.${name}
           COMMAND ${nuv_fuzz} --no-build --smoke ${NUV_FUZZ_SMOKE_RUNS} ${name}
                   ${NUV_FUZZ_SMOKE_SECONDS})
  set_tests_properties(fuzz_smoke.${name} PROPERTIES FIXTURES_REQUIRED fuzz_targets
                       SKIP_RETURN_CODE 77 TIMEOUT 180)
endforeach()
