// Compiles only if the typings describe the module as an app uses it.
import * as kavori from '../../har/src/main/cpp/types/libkavoriplayer_audio_napi';
import type {
  KavoriPlayerExportMethods,
  MessageListener,
  RoutedListener,
} from '../../har/src/main/cpp/types/libkavoriplayer_audio_napi';

const id = 'player-1';
const player = new kavori.newKavoriPlayerAudio(id, false);

const listener: MessageListener = (what, arg1, arg2, text) => {
  const line: string = `${what} ${arg1} ${arg2} ${text ?? ''}`;
  void line;
};
player._setMessageListener(id, listener);
kavori._setMessageListener(id, (what: number) => void what);

player._native_init_audio(id);
const routed: RoutedListener = (serial, what, arg1, arg2, text) => void [serial, what, text];
const accepted: boolean = kavori._setRoutedListener(routed) && kavori._setRoutedListener(null);
const serial: number = kavori._routeEvents(id);
void [accepted, serial];
player._setDataSource(id, '/data/storage/el2/base/tone.m4a');
player._setOption(id, '4', 'speed', '0');
player._setOptionLong(id, '4', 'loop', '1');
player._prepareAsync(id);
player._start(id);
player._seekTo(id, '1500');
const playing: boolean = player._isPlaying(id);
const position: number = kavori._getCurrentPosition(id);
const duration: number = player._getDuration(id);
const gain: string = player._getPropertyFloat(id, '10003', '1.0');
const bytes: string = player._getPropertyLong(id, '20001', '0');
const codec: string = player._getVideoCodecInfo(id) + player._getAudioCodecInfo(id);
const meta: string = kavori._getMediaMeta(id);
player._setStreamSelected(id, '1', 'true');
player._release(id);
void [playing, position, duration, gain, bytes, codec, meta];

// The export table a host installs on an object of its own.
declare const host: KavoriPlayerExportMethods;
const started: number = host._startRecord(id, 1);
const recording: number = host._isRecord(id);
host._addExtSubtitleUrl(id, '/data/sub.srt');
host._native_init(id);
host._stopRecord(id).then((result: number) => void [started, recording, result]);

// Mistakes the typings must reject.
// @ts-expect-error numbers travel as strings
player._seekTo(id, 1500);
// @ts-expect-error the audio set-up methods are not in the export table
host._native_init_audio(id);
// @ts-expect-error recording is only in the export table
kavori._startRecord(id, 1);
// @ts-expect-error the constructor takes id and isVideo
new kavori.newKavoriPlayerAudio(id);
// @ts-expect-error the routing methods are not on the player class
player._routeEvents(id);
// @ts-expect-error _isPlaying gives a boolean
const wrong: number = player._isPlaying(id);
void wrong;
