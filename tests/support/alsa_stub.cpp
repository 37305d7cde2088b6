// A sound library that has the name of ALSA's and only one of its functions:
// what the player finds on a machine with a broken or foreign libasound.so.2.
extern "C" int snd_pcm_open() {
  return -1;
}
