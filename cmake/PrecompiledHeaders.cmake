# Parsing Qt Core's headers is most of a translation unit's compile time (a
# few seconds each, some 160 units a build). They are parsed once per build
# instead: every target of C++ reuses the precompiled headers of one provider.
# The tests are built with less optimisation, which is most of the rest of
# their compile time, and so have a provider of their own: a precompiled
# header is only used with the options it was built with. The fuzz targets
# (instrumented differently) and targets without Qt parse their headers.
#
# Included at the end of the top-level CMakeLists.txt, once every target exists.

option(VYX_PRECOMPILE "Precompile the common Qt Core headers" ON)
if(NOT VYX_PRECOMPILE)
    return()
endif()

set(VYX_TEST_OPTIMIZATION $<$<NOT:$<CONFIG:Debug>>:-Og>)

set(VYX_PRECOMPILED
    <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QFile> <QJsonObject> <QList> <QObject>
    <QRegularExpression> <QString> <QStringList> <QTimer>
    <functional> <memory> <optional> <vector>)
function(vyx_precompiled_headers name)
    file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp
         CONTENT "// the unit the shared precompiled headers are built with\n")
    add_library(${name} OBJECT ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
    # only Qt Core's definitions: a header precompiled with a definition that
    # its user lacks is not used
    target_link_libraries(${name} PRIVATE Qt6::Core)
    target_precompile_headers(${name} PRIVATE ${VYX_PRECOMPILED})
endfunction()
vyx_precompiled_headers(vyxpch)
vyx_precompiled_headers(vyxtestpch)
# libcanberra's flags define _REENTRANT, which the shared headers lack
set(VYX_OWN_PRECOMPILED vyxui)
target_compile_options(vyxtestpch PRIVATE ${VYX_TEST_OPTIMIZATION})

function(vyx_targets_below dir out)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(subdir ${subdirs})
        vyx_targets_below(${subdir} more)
        list(APPEND targets ${more})
    endforeach()
    set(${out} ${targets} PARENT_SCOPE)
endfunction()

vyx_targets_below(${PROJECT_SOURCE_DIR} vyx_all_targets)
foreach(target ${vyx_all_targets})
    get_target_property(type ${target} TYPE)
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$"
       OR target MATCHES "^(vyxpch|vyxtestpch|fuzz_.*)$" OR NOT libraries MATCHES "Qt6::|vyx")
        continue()
    endif()
    if(target IN_LIST VYX_OWN_PRECOMPILED)
        target_precompile_headers(${target} PRIVATE ${VYX_PRECOMPILED})
    elseif(target MATCHES "^test_")
        target_compile_options(${target} PRIVATE ${VYX_TEST_OPTIMIZATION})
        target_precompile_headers(${target} REUSE_FROM vyxtestpch)
    else()
        target_precompile_headers(${target} REUSE_FROM vyxpch)
    endif()
endforeach()
