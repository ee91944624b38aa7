# Which layer may include which: one line per folder, "folder: folders it may use".
# A folder may always include its own headers. Tests and benchmarks may include
# anything; the fuzz targets drive the layers from the command line's down.
# docs/architecture.md shows the same table. The build reads it for each target's
# include path (cmake/Targets.cmake), and the test structure.layer_includes checks
# every #include "..." of the tree against it.
set(VELMORA_LAYER_RULES
  "app:"
  "firmware:"
  "device: app"
  "device/simulated: device firmware app"
  "device/recording: device app"
  "editor: firmware app"
  "signing: firmware app"
  "detection: device app"
  "driver_install: device app"
  "launch: driver_install app"
  "host: device app"
  "workflows: detection editor device firmware app"
  "history: workflows device app"
  "history/server: history workflows device app"
  "backups: workflows app"
  "production: workflows device firmware app"
  "metrics: app"
  "environment: host production metrics workflows history/server history backups launch detection driver_install signing device/recording device/simulated device firmware app"
  "cli: host environment production metrics workflows history backups launch detection driver_install signing editor device/recording device/simulated device firmware app"
  "window: host environment production metrics workflows history backups launch detection driver_install signing editor device/simulated device firmware app"
  "testbed: device/simulated device firmware app"
  "usbip: device/simulated device firmware app"
  "fuzz: cli host environment production workflows history backups detection signing editor device/recording device/simulated device firmware app"
)
