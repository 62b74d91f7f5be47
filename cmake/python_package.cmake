# The pure-Python submodules (lumo_dynamic.torch, lumo_dynamic.jax and the
# kernels they share, lumo_dynamic.viewer), copied beside the built module,
# whose __path__ names the folder, and installed there.
set(LUMO_PY_SOURCES _autodiff.py torch.py jax.py viewer.py)
set(LUMO_PY_OUTPUTS)
foreach(file IN LISTS LUMO_PY_SOURCES)
  add_custom_command(
    OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/lumo_dynamic/${file}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/src/python/lumo_dynamic/${file}
            ${CMAKE_CURRENT_BINARY_DIR}/lumo_dynamic/${file}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/python/lumo_dynamic/${file}
    VERBATIM)
  list(APPEND LUMO_PY_OUTPUTS ${CMAKE_CURRENT_BINARY_DIR}/lumo_dynamic/${file})
endforeach()
add_custom_target(lumo_dynamic_submodules ALL DEPENDS ${LUMO_PY_OUTPUTS})
install(FILES ${LUMO_PY_OUTPUTS} DESTINATION lumo_dynamic)

# Type stubs of the module: the PEP 561 stub package lumo_dynamic-stubs,
# written from the built module by src/python/make_stubs.py (names and
# signatures from the module, the free functions' types from their
# declarations through lumo_dynamic._api, the classes' from the script's
# tables, their descriptions from class_docs.py; the hand-written stubs of
# the pure-Python submodules given the docstrings of their sources) and
# installed beside the module. Rewritten whenever one of them changes.
# Not in a sanitized build: its module loads only with the sanitizer runtime
# preloaded, and it is never installed.
if(NOT LUMO_SANITIZE)
  set(LUMO_STUBS_DIR ${CMAKE_CURRENT_BINARY_DIR}/lumo_dynamic-stubs)
  add_custom_command(
    OUTPUT ${LUMO_STUBS_DIR}/__init__.pyi
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${LUMO_STUBS_DIR}
    COMMAND "${Python_EXECUTABLE}" ${CMAKE_CURRENT_SOURCE_DIR}/src/python/make_stubs.py
            ${LUMO_STUBS_DIR} --path $<TARGET_FILE_DIR:lumo_dynamic>
    DEPENDS lumo_dynamic ${CMAKE_CURRENT_SOURCE_DIR}/src/python/make_stubs.py
            ${CMAKE_CURRENT_SOURCE_DIR}/src/python/class_docs.py
            ${CMAKE_CURRENT_SOURCE_DIR}/src/python/lumo_dynamic/torch.pyi
            ${CMAKE_CURRENT_SOURCE_DIR}/src/python/lumo_dynamic/jax.pyi
            ${CMAKE_CURRENT_SOURCE_DIR}/src/python/lumo_dynamic/viewer.pyi
            ${CMAKE_CURRENT_SOURCE_DIR}/src/python/lumo_dynamic/torch.py
            ${CMAKE_CURRENT_SOURCE_DIR}/src/python/lumo_dynamic/jax.py
            ${CMAKE_CURRENT_SOURCE_DIR}/src/python/lumo_dynamic/viewer.py
    COMMENT "Writing the type stubs of lumo_dynamic"
    VERBATIM)
  add_custom_target(lumo_dynamic_stubs ALL DEPENDS ${LUMO_STUBS_DIR}/__init__.pyi)
  install(DIRECTORY ${LUMO_STUBS_DIR} DESTINATION .)
endif()

# The version, kept once in project(VERSION) above: the module's __version__
# and, through scikit-build-core's regex provider, the wheel's metadata.
target_compile_definitions(lumo_dynamic PRIVATE LUMO_VERSION="${PROJECT_VERSION}")
