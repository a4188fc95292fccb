# The layer order of src/: each folder depends only on the folders before it. The build
# (subsystems.cmake) links the layers in this order and the layering check
# (check_layering.cmake) holds every include against it. abi/ is headers only.
set(HXA_LAYER_ORDER abi util log binding formats http plugin player_messaging)

# The sub-layers of host/, the development host: each folder may include itself, the
# folders its HXA_HOST_USES_<folder> names and src/abi/, nothing else. The build
# (host/CMakeLists.txt) makes one library per folder, linked to the ones it uses.
set(HXA_HOST_LAYERS core describe server validate cli)
set(HXA_HOST_USES_core "")
set(HXA_HOST_USES_describe core)
set(HXA_HOST_USES_server core describe)
set(HXA_HOST_USES_validate core describe)
set(HXA_HOST_USES_cli core describe server validate)
