# Test code signing: a throw-away certificate authority and four code-signing certificates, made
# with openssl into the build tree at configure time (never committed), and a function that signs
# a target's output with osslsigncode after every build.
#
#   voro_sign_target(<target> <case>)                 signs the target's file in place
#   voro_signed_copy(<target> <case> <output file>)   writes a signed copy next to the unsigned one
#
# Cases (the signer's common name):
#   latin    an allowed publisher written in Latin script
#   chinese  an allowed publisher written in Chinese (UTF-8 subject)
#   foreign  a publisher that is not on the allow-list
#   expired  an allowed publisher whose certificate was valid only in 2020
# The allowed names are entries of the publisher table in Uninstall/engine/Publishers.cpp.
#
# The harness's template prefix trusts the test root: a set-up hook written here adds it to the
# prefix's machine Root store with the voro_trust_root tool.

find_program(VORO_OPENSSL openssl)
find_program(VORO_OSSLSIGNCODE osslsigncode)
if(NOT VORO_OPENSSL OR NOT VORO_OSSLSIGNCODE)
  message(FATAL_ERROR "Test signing needs openssl and osslsigncode (apt-get install openssl osslsigncode)")
endif()

set(VORO_SIGNING_DIR ${CMAKE_BINARY_DIR}/test-signing)
set(VORO_SIGN_NAME_latin "Quonsoft Technology Co., Ltd.")
set(VORO_SIGN_NAME_chinese "北京夸恩科技有限公司")
set(VORO_SIGN_NAME_foreign "Example Foreign Software Ltd.")
set(VORO_SIGN_NAME_expired "Voro Interactive Limited")
set(VORO_SIGN_DATES_latin 20200101000000Z 20491231000000Z)
set(VORO_SIGN_DATES_chinese 20200101000000Z 20491231000000Z)
set(VORO_SIGN_DATES_foreign 20200101000000Z 20491231000000Z)
set(VORO_SIGN_DATES_expired 20200101000000Z 20210101000000Z)
set(VORO_SIGN_CASES latin chinese foreign expired)

function(_voro_openssl)
  execute_process(COMMAND ${VORO_OPENSSL} ${ARGN}
                  WORKING_DIRECTORY ${VORO_SIGNING_DIR}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "openssl ${ARGN} failed:\n${out}")
  endif()
endfunction()

# Everything is made once per build tree; a changed recipe (the stamp) makes it again.
set(_voro_signing_stamp "v1;${VORO_SIGN_CASES};${VORO_SIGN_NAME_latin};${VORO_SIGN_NAME_chinese};${VORO_SIGN_NAME_foreign};${VORO_SIGN_NAME_expired};${VORO_SIGN_DATES_expired}")
set(_voro_signing_old "")
if(EXISTS ${VORO_SIGNING_DIR}/stamp)
  file(READ ${VORO_SIGNING_DIR}/stamp _voro_signing_old)
endif()
if(NOT _voro_signing_old STREQUAL _voro_signing_stamp)
  file(REMOVE_RECURSE ${VORO_SIGNING_DIR})
  file(MAKE_DIRECTORY ${VORO_SIGNING_DIR}/issued)
  file(WRITE ${VORO_SIGNING_DIR}/index.txt "")
  file(WRITE ${VORO_SIGNING_DIR}/serial "1000\n")
  file(WRITE ${VORO_SIGNING_DIR}/ca.cnf [=[
[ ca ]
default_ca = test_ca
[ test_ca ]
dir = .
database = index.txt
new_certs_dir = issued
serial = serial
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
email_in_dn = no
[ any_name ]
commonName = supplied
[ req ]
distinguished_name = empty_dn
string_mask = utf8only
prompt = no
[ empty_dn ]
[ root_ca ]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[ code_signing ]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
]=])
  # The root outlives every leaf on both sides, so only a leaf's own dates decide "expired".
  _voro_openssl(req -new -newkey rsa:2048 -nodes -config ca.cnf -utf8
                -subj "/CN=Voro Test Root CA" -keyout ca.key -out ca.csr)
  _voro_openssl(ca -batch -config ca.cnf -selfsign -keyfile ca.key -in ca.csr -out ca.crt
                -extensions root_ca -startdate 20190101000000Z -enddate 20501231000000Z -notext -utf8)
  foreach(case IN LISTS VORO_SIGN_CASES)
    list(GET VORO_SIGN_DATES_${case} 0 start)
    list(GET VORO_SIGN_DATES_${case} 1 end)
    _voro_openssl(req -new -newkey rsa:2048 -nodes -config ca.cnf -utf8
                  -subj "/CN=${VORO_SIGN_NAME_${case}}" -keyout ${case}.key -out ${case}.csr)
    _voro_openssl(ca -batch -config ca.cnf -cert ca.crt -keyfile ca.key -in ${case}.csr -out ${case}.crt
                  -extensions code_signing -startdate ${start} -enddate ${end} -notext -utf8)
  endforeach()
  file(WRITE ${VORO_SIGNING_DIR}/stamp "${_voro_signing_stamp}")
endif()
file(SHA256 ${VORO_SIGNING_DIR}/ca.crt VORO_TEST_ROOT_SHA256)

# Adds the test root to a prefix's machine Root store (run by the harness hook below).
add_executable(voro_trust_root ${PROJECT_SOURCE_DIR}/tests/fixtures/trust/TrustRoot.cpp)
target_link_libraries(voro_trust_root PRIVATE voro_options crypt32)
target_link_options(voro_trust_root PRIVATE -municode)
set_target_properties(voro_trust_root PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VORO_SIGNING_DIR})

# The hook's text names the root's digest, so a new root makes the harness build a new template.
set(_voro_trust_hook [=[
# Generated by cmake/TestSigning.cmake: the prefix trusts the build's test root certificate.
# root sha256: @VORO_TEST_ROOT_SHA256@
set -eu
tool="$<TARGET_FILE:voro_trust_root>"
cert="@VORO_SIGNING_DIR@/ca.crt"
if [ ! -f "$tool" ]; then
  echo "10-trust-test-root: $tool is missing: build the tree before the tests" >&2
  exit 1
fi
"$VORO_WINE_LOADER" "$tool" "Z:$(printf '%s' "$cert" | tr / '\\')"
]=])
string(CONFIGURE "${_voro_trust_hook}" _voro_trust_hook @ONLY)
file(GENERATE OUTPUT ${VORO_TEMPLATE_HOOKS_DIR}/10-trust-test-root.sh CONTENT "${_voro_trust_hook}")

function(_voro_sign_commands out case input output)
  if(NOT case IN_LIST VORO_SIGN_CASES)
    message(FATAL_ERROR "voro_sign: unknown signing case '${case}' (one of ${VORO_SIGN_CASES})")
  endif()
  set(${out} COMMAND ${VORO_OSSLSIGNCODE} sign -h sha256
                     -certs ${VORO_SIGNING_DIR}/${case}.crt -key ${VORO_SIGNING_DIR}/${case}.key
                     -ac ${VORO_SIGNING_DIR}/ca.crt -in ${input} -out ${output}.signing
             COMMAND mv -f ${output}.signing ${output} PARENT_SCOPE)
endfunction()

# Signs the target's output file in place after every build.
function(voro_sign_target target case)
  _voro_sign_commands(cmds ${case} $<TARGET_FILE:${target}> $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD ${cmds} VERBATIM)
endfunction()

# Writes a signed copy of the target's (unsigned) output file to output after every build.
function(voro_signed_copy target case output)
  get_filename_component(dir ${output} DIRECTORY)
  _voro_sign_commands(cmds ${case} $<TARGET_FILE:${target}> ${output})
  add_custom_command(TARGET ${target} POST_BUILD COMMAND ${CMAKE_COMMAND} -E make_directory ${dir} ${cmds} VERBATIM)
endfunction()
