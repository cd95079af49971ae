# Installs the built project into a scratch prefix and reads the dynamic symbol tables of the
# installed libraries: every symbol they export belongs to their interface below, none names the
# internals, the entry points a host calls are there, and the internal headers are not installed.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DLIBDIR=lib -DINCLUDEDIR=include -DNM=nm -P run.cmake
cmake_minimum_required(VERSION 3.16)

# What each library may export: the classes, namespaces, functions and variables a symbol may
# belong to (its outermost name).
set(avatarsystem_interface
    # the host contract
    IAvatarSystem IInstance IEntityView IEntityViewObserver IActionCallback IRttObjectCallback
    I3DRttObjectCallback PlayerSetting_t CreatureSetting_t WeaponEffectVisible ENTITY_CALLBACK
    # the system and its avatars, for hosts' tools
    AvatarSystemManager CreateRequest AnimationController ManagedInstance InstanceBase CharacterInstance
    CreatureInstance AttachModel
    # the tables
    Record s_emptyRecord findRowByName TableLayout TextDataBase KeyedTextDataBase CreatureLayoutDB CreatureDB
    NpcDB ObjectDB AnimationDB EWItemDB EWWearingDB EWEffectsDB EWBaseInfoDB EWCharRacesDB EWCharSectionsDB
    EWCharHairGeoDB EWCharFacialHairDB
    # the table checker
    avatar_check)
set(avatareffects_interface EffectManager Effect EffectTemplate)
# Instances of the standard library's and the engine's templates and inline code that the
# compiler exports along with ours; allowed unless they name the internals.
set(foreign std __gnu_cxx Ogre)
# AddressSanitizer's marker beside each exported global (mangled); the global itself is judged.
set(instrumentation "^__odr_asan\\.")
# No exported symbol may contain these names.
set(internal avatar_detail)
# Symbols each library must export (a demangled name, or its beginning up to "(").
set(avatarsystem_required
    "IAvatarSystem::getSingletonPtr()" "IAvatarSystem::getSingleton()" "AvatarSystemManager::getSingletonPtr()"
    "AvatarSystemManager::getSingleton()" "PlayerSetting_t::PlayerSetting_t()" "CreatureSetting_t::CreatureSetting_t()"
    "typeinfo for CharacterInstance" "typeinfo for CreatureInstance" "vtable for AvatarSystemManager"
    "AvatarSystemManager::getDB(" "TextDataBase::writeRows()" "KeyedTextDataBase::writeRows()" "s_emptyRecord"
    "findRowByName(" "avatar_check::checkDirectory(" "avatar_check::formatFinding(" "AttachModel::create(")
set(avatareffects_required "EffectManager::getSingletonPtr()" "EffectManager::addEffect(" "Effect::show()")

set(problems "")

# The outermost name a demangled symbol belongs to: "AvatarSystemManager" for
# "TextDataBase* AvatarSystemManager::openTable<NpcDB>(NpcDB*&)", "std" for "vtable for std::...".
function(symbol_owner symbol out)
    set(s "${symbol}")
    string(REGEX REPLACE "^((typeinfo name|typeinfo|vtable|VTT|construction vtable|guard variable|TLS init function|TLS wrapper function) for |(non-virtual |virtual |covariant return )?thunk to )+"
                         "" s "${s}")
    # Operators whose names hold brackets or a type.
    string(REGEX REPLACE "operator(<<=|>>=|<=>|<<|>>|<=|>=|->\\*|->|<|>|\\(\\))" "operator" s "${s}")
    string(REGEX REPLACE "operator [^(]+\\(" "operator(" s "${s}")
    # Template arguments, innermost first, then parameters and what follows them.
    while(s MATCHES "<[^<>]*>")
        string(REGEX REPLACE "<[^<>]*>" "" s "${s}")
    endwhile()
    string(REGEX REPLACE "\\(.*$" "" s "${s}")
    # A return type comes before the name.
    string(REGEX REPLACE "^.* " "" s "${s}")
    string(REGEX REPLACE "::.*$" "" s "${s}")
    set(${out} "${s}" PARENT_SCOPE)
endfunction()

function(check_library name)
    set(library "${prefix}/${LIBDIR}/lib${name}.so")
    if(NOT EXISTS "${library}")
        list(APPEND problems "${library}: not installed")
        set(problems "${problems}" PARENT_SCOPE)
        return()
    endif()
    execute_process(COMMAND "${NM}" -D --defined-only -C "${library}" RESULT_VARIABLE rc OUTPUT_VARIABLE out)
    if(rc)
        list(APPEND problems "${library}: ${NM} failed: ${rc}")
        set(problems "${problems}" PARENT_SCOPE)
        return()
    endif()
    # One symbol a line; the brackets of a demangled name would split a CMake list.
    string(REPLACE ";" "\\;" out "${out}")
    string(REPLACE "[" "(" out "${out}")
    string(REPLACE "]" ")" out "${out}")
    string(REPLACE "\n" ";" lines "${out}")
    set(names "")
    set(count 0)
    foreach(line IN LISTS lines)
        if(NOT line MATCHES "^[0-9a-fA-F]* [A-Za-z] (.+)$")
            continue()
        endif()
        set(symbol "${CMAKE_MATCH_1}")
        string(APPEND names "\n${symbol}")
        math(EXPR count "${count} + 1")
        set(bad "")
        foreach(word IN LISTS internal)
            if(symbol MATCHES "${word}")
                set(bad "internal")
            endif()
        endforeach()
        if(NOT bad AND NOT symbol MATCHES "${instrumentation}")
            symbol_owner("${symbol}" owner)
            if(NOT owner IN_LIST ${name}_interface AND NOT owner IN_LIST foreign)
                set(bad "not part of the interface (${owner})")
            endif()
        endif()
        if(bad)
            list(APPEND problems "lib${name}.so exports ${symbol}: ${bad}")
        endif()
    endforeach()
    foreach(required IN LISTS ${name}_required)
        string(FIND "${names}" "\n${required}" at)
        if(at LESS 0)
            list(APPEND problems "lib${name}.so does not export ${required}")
        endif()
    endforeach()
    message(STATUS "lib${name}.so: ${count} exported symbols read")
    set(problems "${problems}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}" OUTPUT_QUIET RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "install failed: ${rc}")
endif()

check_library(avatarsystem)
check_library(avatareffects)

# Only the public headers are installed, and none of them reaches for an internal one.
if(EXISTS "${prefix}/${INCLUDEDIR}/avatarsystem/detail")
    list(APPEND problems "the internal headers are installed: ${prefix}/${INCLUDEDIR}/avatarsystem/detail")
endif()
file(GLOB_RECURSE headers "${prefix}/${INCLUDEDIR}/*.h")
if(NOT headers)
    list(APPEND problems "no headers installed under ${prefix}/${INCLUDEDIR}")
endif()
foreach(header IN LISTS headers)
    file(STRINGS "${header}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"][^>\"]*detail/")
    foreach(include IN LISTS includes)
        list(APPEND problems "${header} includes an internal header: ${include}")
    endforeach()
    # The internals' namespace may appear only to name a class a public one points to: whatever a
    # header declares in it, a host could call and fail to link.
    file(READ "${header}" text)
    # Semicolons and brackets would split or join the items of a CMake list.
    string(REPLACE ";" "@semicolon@" text "${text}")
    string(REPLACE "[" "(" text "${text}")
    string(REPLACE "]" ")" text "${text}")
    string(REGEX MATCHALL "namespace[ \t\r\n]+${internal}[ \t\r\n]*{[^}]*}" blocks "${text}")
    foreach(block IN LISTS blocks)
        string(REGEX REPLACE "(class|struct)[ \t\r\n]+[A-Za-z_][A-Za-z_0-9]*[ \t\r\n]*@semicolon@" "" rest
                             "${block}")
        string(REGEX REPLACE "[ \t\r\n]+" "" rest "${rest}")
        if(NOT rest STREQUAL "namespace${internal}{}")
            list(APPEND problems "${header} declares internals: ${block}")
        endif()
    endforeach()
endforeach()

if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "the installed package exports more or less than its interface:\n  ${text}")
endif()
message(STATUS "the installed libraries export their interfaces only")
