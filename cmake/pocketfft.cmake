# pocketfft's header-only C++ FFT, taken at build time from the pinned pythran release
# (a build requirement): located without importing pythran, checked against its SHA-256,
# copied into the build tree. No copy is kept in the repository.
#
# Configuration is pinned here, in one place, for every target that includes it:
#   POCKETFFT_CACHE_SIZE=0       no plan cache: every transform is planned afresh
#   POCKETFFT_NO_MULTITHREADING  no threads: every call runs on the caller's thread
#   POCKETFFT_NO_VECTORS         scratch memory from plain malloc: the vector build takes it
#                                from aligned_alloc(64, size) with sizes that are not multiples
#                                of 64, which strict C11 and the sanitizers refuse. The vectors
#                                only batch multi-dimensional transforms; 1-D results are the same.
set(ORVEK_POCKETFFT_SHA256 "dcab84d9578aef89a1ce5e2ae17858ece358be88f549803f36b82003c1b407d1")
set(ORVEK_POCKETFFT_RELATIVE "pythonic/numpy/fft/pocketfft.hpp")

execute_process(
  COMMAND ${Python_EXECUTABLE} -c
    "import importlib.util, os; s = importlib.util.find_spec('pythran'); print(os.path.dirname(s.origin) if s and s.origin else '')"
  OUTPUT_VARIABLE orvek_pythran_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
set(orvek_pocketfft_source "${orvek_pythran_dir}/${ORVEK_POCKETFFT_RELATIVE}")
if(orvek_pythran_dir STREQUAL "" OR NOT EXISTS "${orvek_pocketfft_source}")
  message(FATAL_ERROR "pocketfft: pythran==0.18.1 is not installed for ${Python_EXECUTABLE} "
                      "(it is a build requirement; run the set-up or pip install pythran==0.18.1)")
endif()
file(SHA256 "${orvek_pocketfft_source}" orvek_pocketfft_hash)
if(NOT orvek_pocketfft_hash STREQUAL ORVEK_POCKETFFT_SHA256)
  message(FATAL_ERROR "pocketfft: ${orvek_pocketfft_source} has SHA-256 ${orvek_pocketfft_hash}, "
                      "expected ${ORVEK_POCKETFFT_SHA256}")
endif()

set(orvek_pocketfft_dir "${CMAKE_BINARY_DIR}/pocketfft")
configure_file("${orvek_pocketfft_source}" "${orvek_pocketfft_dir}/pocketfft_hdronly.hpp" COPYONLY)

# The BSD notice is the header's opening comment; it ships in the wheel.
file(READ "${orvek_pocketfft_source}" orvek_pocketfft_text LIMIT 2200)
string(FIND "${orvek_pocketfft_text}" "*/" orvek_notice_end)
string(SUBSTRING "${orvek_pocketfft_text}" 0 ${orvek_notice_end} orvek_pocketfft_notice)
string(REGEX REPLACE "^/\\*\n" "" orvek_pocketfft_notice "${orvek_pocketfft_notice}")
set(ORVEK_POCKETFFT_LICENSE "${orvek_pocketfft_dir}/LICENSE-pocketfft.txt")
file(WRITE "${ORVEK_POCKETFFT_LICENSE}" "${orvek_pocketfft_notice}")

add_library(orvek_pocketfft INTERFACE)
target_include_directories(orvek_pocketfft SYSTEM INTERFACE "${orvek_pocketfft_dir}")
target_compile_definitions(orvek_pocketfft INTERFACE POCKETFFT_CACHE_SIZE=0 POCKETFFT_NO_MULTITHREADING
                                                     POCKETFFT_NO_VECTORS)
