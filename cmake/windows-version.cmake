# A VERSIONINFO resource in every Windows program: product, version, company, what it is. The
# company and the support address are named once here, for the programs and the installer.
set(VANTARI_PRODUCT "반타리서비스")
set(VANTARI_COMPANY "Vantari" CACHE STRING "The company the programs and the uninstall entry name")
set(VANTARI_SUPPORT_URL "https://vantari.example/support" CACHE STRING
    "The help and support address of the uninstall entry")

function(vantari_version_resource program description)
  set(VANTARI_PROGRAM ${program})
  set(VANTARI_FILE_DESCRIPTION "${description}")
  set(VANTARI_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},0,0")
  set(rc ${PROJECT_BINARY_DIR}/version/${program}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/app/win/version.rc.in ${rc} @ONLY)
  target_sources(${program} PRIVATE ${rc})
endfunction()
