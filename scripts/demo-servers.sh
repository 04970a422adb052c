# Sourced by scripts/run and scripts/screenshot: starts the demo's servers on their usual ports
# and stops them again when the calling script ends.
#   tavilon-catalogue  127.0.0.1:8180, seeded with resources/catalogue.txt on first use
#   tavilon-metadata   127.0.0.1:8182, serving resources/titles/
# Needs: bin (the folder of the built programs). Sets TAVILON_CATALOGUE_URL and
# TAVILON_METADATA_URL for the client.

demo_pids=()

demo_stop_servers() {
  local pid
  for pid in "${demo_pids[@]}"; do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for pid in "${demo_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  demo_pids=()
}

# Waits until something listens on 127.0.0.1:$1, or fails after about 10 seconds.
demo_wait_port() {
  local tries=0
  until (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ]; then
      echo "demo: nothing listens on port $1" >&2
      return 1
    fi
    sleep 0.1
  done
}

demo_start_servers() {
  local data=${TAVILON_DEMO_DATA:-${XDG_DATA_HOME:-$HOME/.local/share}/tavilon-demo}
  mkdir -p "$data"
  local db="sqlite:$data/catalogue.sqlite"
  if [ ! -f "$data/catalogue.sqlite" ]; then
    "$bin/tavilon-catalogue" import resources/catalogue.txt --db "$db" >/dev/null
  fi
  "$bin/tavilon-catalogue" serve --listen 127.0.0.1:8180 --db "$db" &
  demo_pids+=($!)
  "$bin/tavilon-metadata" --listen 127.0.0.1:8182 --dir resources/titles &
  demo_pids+=($!)
  trap demo_stop_servers EXIT
  demo_wait_port 8180
  demo_wait_port 8182
  export TAVILON_CATALOGUE_URL=http://127.0.0.1:8180/tavilonserver.php
  export TAVILON_METADATA_URL=http://127.0.0.1:8182
}
