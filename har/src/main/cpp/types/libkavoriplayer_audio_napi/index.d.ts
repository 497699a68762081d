/**
 * Typings of the native module "kavoriplayer_audio_napi" (libkavoriplayer_audio_napi.so).
 *
 * ArkTS imports it as `import kavori from 'libkavoriplayer_audio_napi.so'`; the named exports
 * below are the same functions.
 *
 * Every method names its player by an id string as first argument; an empty id stands for the
 * id of the XComponent the call is made on (or the id of the last `_native_init` while a surface
 * is destroyed). Numbers and flags travel as strings: a number (or any non-string) passed where
 * a string is expected reads as empty text, and so as 0, false or "". Methods never throw for
 * bad input; without an engine player they do nothing and getters give their neutral value
 * (0, false, "").
 */

/**
 * Receives the events of every player on the JS thread: event kind and two values, plus a text
 * for the events that carry one (timed text, SEI and text notices). Error events (100) carry
 * no text: -10000 and the engine's error code. Nothing in an event names its player.
 */
export type MessageListener = (what: number, arg1: number, arg2: number, text?: string) => void;

/**
 * Receives, on the JS thread of the environment that set it, the events of the engine players
 * that environment routed: the serial of the engine player that posted the event (see
 * `_routeEvents`), then what the raw listener gets for it. A listener that declares all five
 * parameters gets five arguments on every call, text undefined when the event has none.
 */
export type RoutedListener =
  (player: number, what: number, arg1: number, arg2: number, text?: string) => void;

/** The methods of both method tables (31): the module's and the one a host installs. */
export interface KavoriPlayerSharedMethods {
  /** Sets the media URL (path, file: or network URL). */
  _setDataSource(id: string, url: string): void;
  /** Plays from an open file descriptor, given as decimal text; the caller keeps its descriptor. */
  _setDataSourceFd(id: string, fd: string): void;
  /** Sets the token used to decrypt HLS segments. */
  _setDecryptTokenForHLS(id: string, token: string): void;
  /** Sets an engine option: category as decimal text, key and value as text. */
  _setOption(id: string, category: string, key: string, value: string): void;
  /** Sets an integer engine option; value as decimal text (32-bit range). */
  _setOptionLong(id: string, category: string, key: string, value: string): void;
  /** Starts preparing; the listener receives (1, 0, 0) when prepared. */
  _prepareAsync(id: string): void;
  _start(id: string): void;
  _stop(id: string): void;
  _pause(id: string): void;
  /** Ends the engine player for good; a creating method must run again before playing. */
  _reset(id: string): void;
  /** Ends the engine player; safe to call twice. */
  _release(id: string): void;
  /** Seeks to a position in milliseconds, given as decimal text. */
  _seekTo(id: string, msec: string): void;
  _isPlaying(id: string): boolean;
  /**
   * Registers the one listener of the module (the last registration wins, for every player).
   * The ArkTS package does not use it (it takes its events through _setRoutedListener), so an
   * app that uses the package may register one too.
   */
  _setMessageListener(id: string, listener: MessageListener): void;
  /** Duration in milliseconds. */
  _getDuration(id: string): number;
  /** Playback position in milliseconds. */
  _getCurrentPosition(id: string): number;
  /** property as decimal text, value as decimal float text. */
  _setPropertyFloat(id: string, property: string, value: string): void;
  /** Gives the value in fixed notation with six decimals, e.g. "0.500000"; "0.000000" without a player. */
  _getPropertyFloat(id: string, property: string, fallback: string): string;
  /** value as decimal text; only its low 32 bits reach the engine. */
  _setPropertyLong(id: string, property: string, value: string): void;
  /** Gives the 64-bit value as decimal text; "0" without a player. */
  _getPropertyLong(id: string, property: string, fallback: string): string;
  _getAudioSessionId(id: string): number;
  /** Left and right volume as decimal float texts. */
  _setVolume(id: string, left: string, right: string): void;
  /** Loop count as decimal text. */
  _setLoopCount(id: string, count: string): void;
  _getLoopCount(id: string): number;
  /** Video codec description; "" when there is none. */
  _getVideoCodecInfo(id: string): string;
  /** Audio codec description; "" when there is none. */
  _getAudioCodecInfo(id: string): string;
  /** Selects ("true") or deselects (any other text) a stream given as decimal text. */
  _setStreamSelected(id: string, stream: string, selected: string): void;
  /**
   * Stream metadata as "key:K,value:V;" groups. Flat: a key several streams carry (type,
   * language, the codec keys) holds the last stream's value. Values may contain commas.
   */
  _getMediaMeta(id: string): string;
  /** Switches the module's logging on for the process; it stays on. */
  _nativeOpenlog(id: string): void;
  /** Creates the video player of the id, bound to its XComponent surface. */
  _native_init(id: string): void;
  /** Completes the set-up of the id's player. */
  _native_setup(id: string): void;
}

/** The methods present on the class prototype and on the module's exports (33). */
export interface KavoriPlayerMethods extends KavoriPlayerSharedMethods {
  /** Creates the audio-only player of the id. */
  _native_init_audio(id: string): void;
  /** Creates and sets up an audio-only player of the id. */
  _native_setup_audio(id: string): void;
}

/**
 * The methods a host installs on an object of its own through the module's exported Export
 * operation (35): the shared ones without the audio set-up methods, plus recording and external
 * subtitles.
 */
export interface KavoriPlayerExportMethods extends KavoriPlayerSharedMethods {
  /** Starts recording; value is passed to the engine as a number. Gives the engine's answer. */
  _startRecord(id: string, value: number): number;
  /** Stops recording off the JS thread; resolves with the engine's answer, never rejects. */
  _stopRecord(id: string): Promise<number>;
  /** Gives 1 while recording, else 0 (a number, not a boolean). */
  _isRecord(id: string): number;
  /** Adds an external subtitle file or URL. */
  _addExtSubtitleUrl(id: string, url: string): void;
}

/** The player class: one native player per id, kept for the life of the process. */
export interface newKavoriPlayerAudio extends KavoriPlayerMethods {}
export declare class newKavoriPlayerAudio {
  /**
   * Finds or creates the native player of id. isVideo sets a process-wide flag that every later
   * first use of an id reads (by any method, not only this constructor): a new id then gets the
   * XComponent surface binding. Construct before any other call with a new id.
   */
  constructor(id: string, isVideo: boolean);
}

/**
 * The module's extension for the ArkTS package: per-player events. Not in either method table
 * and not enumerable on the exports. The raw listener keeps getting every event; routing is in
 * addition to it. Each event of a routed engine player reaches the routed listener of the
 * environment that routed it once, in the order its player posted it.
 */
export interface KavoriPlayerRouting {
  /**
   * Sets this environment's (main thread's or a worker's) routed listener in place of the one it
   * had; null removes it. Installs the module's event poster as `_setMessageListener` does.
   * Gives false (and logs an error) when the argument is neither a function nor null or the
   * registration failed. An environment's end drops its listener, queued events and routes.
   */
  _setRoutedListener(listener: RoutedListener | null): boolean;
  /**
   * Gives the serial of the engine player now registered under id (positive, unique for the
   * life of the process: an engine player created later under the same id gets another one),
   * or 0 when the id has none (an id never used makes no instance). From this call on, that
   * player's events also go to this environment's routed listener (dropped for routing while it
   * has none); a later call from another environment moves them there. Call it right after the
   * call that creates the engine player: events posted before it are not routed. The route ends
   * after the player's message loop has posted its last event; an ended player's late events
   * still carry its old serial.
   *
   * With owned true, this environment also owns the route, for as long as the route lasts: a call
   * from another environment gives -1 and changes nothing (the same for one without owned). When
   * the owner ends (worker terminated or returned, main environment torn down), the module ends
   * that engine player as `_release` does, if the id still names it. From the owner's
   * `_prepareAsync` of it until its loop ends or it posts an engine error (100), the player keeps
   * the owner alive, as an open socket does; an owned player never prepared does not.
   */
  _routeEvents(id: string, owned?: boolean): number;
  /**
   * Who owns the route of the engine player now registered under id: 0 nobody (or no engine
   * player), 1 this environment, 2 another environment.
   */
  _routeOwner(id: string): number;
  /**
   * The number of routes the module holds now: for tests, which check that every ended player
   * and environment gives its routes back.
   */
  _routeCount(): number;
  /**
   * Claims id for this environment, or gives its claim up: what keeps two threads' packages from
   * making two live players of one id, whether or not either has an engine player yet. The id is
   * read as every method reads it (2047 bytes of UTF-8, up to a NUL). With claimed true, gives 1
   * when this environment holds the claim (made now or before) and 2 when another environment
   * holds it (nothing changes); with claimed false, drops this environment's claim (a claim of
   * another environment stays) and gives 0. The empty id gives 0. When an environment ends, its
   * claims go with it. Claims do not touch engine players: the methods take any id as before.
   */
  _claimId(id: string, claimed: boolean): number;
}

/** The module's exports object, as a default import gives it. */
export interface KavoriPlayerModule extends KavoriPlayerMethods, KavoriPlayerRouting {
  newKavoriPlayerAudio: typeof newKavoriPlayerAudio;
}
declare const kavoriplayer: KavoriPlayerModule;
export default kavoriplayer;

export declare const _setDataSource: KavoriPlayerMethods['_setDataSource'];
export declare const _setDataSourceFd: KavoriPlayerMethods['_setDataSourceFd'];
export declare const _setDecryptTokenForHLS: KavoriPlayerMethods['_setDecryptTokenForHLS'];
export declare const _setOption: KavoriPlayerMethods['_setOption'];
export declare const _setOptionLong: KavoriPlayerMethods['_setOptionLong'];
export declare const _prepareAsync: KavoriPlayerMethods['_prepareAsync'];
export declare const _start: KavoriPlayerMethods['_start'];
export declare const _stop: KavoriPlayerMethods['_stop'];
export declare const _pause: KavoriPlayerMethods['_pause'];
export declare const _reset: KavoriPlayerMethods['_reset'];
export declare const _release: KavoriPlayerMethods['_release'];
export declare const _seekTo: KavoriPlayerMethods['_seekTo'];
export declare const _isPlaying: KavoriPlayerMethods['_isPlaying'];
export declare const _setMessageListener: KavoriPlayerMethods['_setMessageListener'];
export declare const _getDuration: KavoriPlayerMethods['_getDuration'];
export declare const _getCurrentPosition: KavoriPlayerMethods['_getCurrentPosition'];
export declare const _setPropertyFloat: KavoriPlayerMethods['_setPropertyFloat'];
export declare const _getPropertyFloat: KavoriPlayerMethods['_getPropertyFloat'];
export declare const _setPropertyLong: KavoriPlayerMethods['_setPropertyLong'];
export declare const _getPropertyLong: KavoriPlayerMethods['_getPropertyLong'];
export declare const _getAudioSessionId: KavoriPlayerMethods['_getAudioSessionId'];
export declare const _setVolume: KavoriPlayerMethods['_setVolume'];
export declare const _setLoopCount: KavoriPlayerMethods['_setLoopCount'];
export declare const _getLoopCount: KavoriPlayerMethods['_getLoopCount'];
export declare const _getVideoCodecInfo: KavoriPlayerMethods['_getVideoCodecInfo'];
export declare const _getAudioCodecInfo: KavoriPlayerMethods['_getAudioCodecInfo'];
export declare const _setStreamSelected: KavoriPlayerMethods['_setStreamSelected'];
export declare const _getMediaMeta: KavoriPlayerMethods['_getMediaMeta'];
export declare const _nativeOpenlog: KavoriPlayerMethods['_nativeOpenlog'];
export declare const _native_init: KavoriPlayerMethods['_native_init'];
export declare const _native_init_audio: KavoriPlayerMethods['_native_init_audio'];
export declare const _native_setup: KavoriPlayerMethods['_native_setup'];
export declare const _native_setup_audio: KavoriPlayerMethods['_native_setup_audio'];
export declare const _setRoutedListener: KavoriPlayerRouting['_setRoutedListener'];
export declare const _routeEvents: KavoriPlayerRouting['_routeEvents'];
export declare const _routeOwner: KavoriPlayerRouting['_routeOwner'];
export declare const _routeCount: KavoriPlayerRouting['_routeCount'];
export declare const _claimId: KavoriPlayerRouting['_claimId'];
