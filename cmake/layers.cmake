# The layer order of src/: each folder depends only on the folders before it. The build
# (subsystems.cmake) links the layers in this order and the layering check
# (check_layering.cmake) holds every include against it. abi/ is headers only.
set(HXA_LAYER_ORDER abi util log binding formats http plugin player_messaging)
