# Sourced by the scripts that play through a sound server of their own:
# start_sound_server DIR starts a private PulseAudio daemon with a null sink
# in DIR, points the sound clients (ALSA's default device through its plugin)
# at it, and sets $daemon to the daemon's process for the caller to end.
start_sound_server() {
  local dir=$1
  cat >"$dir/daemon.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=benchsink rate=44100 channels=2 format=s16le norewinds=1
set-default-sink benchsink
PA
  export HOME=$dir XDG_RUNTIME_DIR=$dir PULSE_SERVER=unix:$dir/native
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --realtime=yes --high-priority=yes --log-target=stderr -F "$dir/daemon.pa" 2>"$dir/daemon.log" &
  daemon=$!
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
}
