// The platform kits the media session bridge uses, declared with the platform's module names,
// members and values (a subset: what the bridge calls, and the events and enums around them), so
// that the front end checks the bridge against them without the SDK. In Node the same names
// resolve to the recording fakes of har/test/kit-fakes.js (ets-require.js).

// The SDK's base Context (arkts-sdk.d.ts), as the ability kit's `common` namespace names it.
type KitBaseContext = Context;

declare module '@kit.AbilityKit' {
  export namespace common {
    type Context = KitBaseContext;
  }
  /** What wantAgent.getWantAgent() gives: the ability a tap on the controller or notice opens. */
  export interface WantAgent {}
}

declare module '@kit.AVSessionKit' {
  import { common } from '@kit.AbilityKit';
  import { WantAgent } from '@kit.AbilityKit';

  export namespace avSession {
    type AVSessionType = 'audio' | 'video' | 'voice_call' | 'video_call';

    function createAVSession(context: common.Context, tag: string,
      type: AVSessionType): Promise<AVSession>;

    enum PlaybackState {
      PLAYBACK_STATE_INITIAL = 0,
      PLAYBACK_STATE_PREPARE = 1,
      PLAYBACK_STATE_PLAY = 2,
      PLAYBACK_STATE_PAUSE = 3,
      PLAYBACK_STATE_FAST_FORWARD = 4,
      PLAYBACK_STATE_REWIND = 5,
      PLAYBACK_STATE_STOP = 6,
      PLAYBACK_STATE_COMPLETED = 7,
      PLAYBACK_STATE_RELEASED = 8,
      PLAYBACK_STATE_ERROR = 9,
      PLAYBACK_STATE_IDLE = 10,
      PLAYBACK_STATE_BUFFERING = 11
    }

    enum LoopMode {
      LOOP_MODE_SEQUENCE = 0,
      LOOP_MODE_SINGLE = 1,
      LOOP_MODE_LIST = 2,
      LOOP_MODE_SHUFFLE = 3,
      LOOP_MODE_CUSTOM = 4
    }

    enum AVSessionErrorCode {
      ERR_CODE_SERVICE_EXCEPTION = 6600101,
      ERR_CODE_SESSION_NOT_EXIST = 6600102,
      ERR_CODE_CONTROLLER_NOT_EXIST = 6600103,
      ERR_CODE_REMOTE_CONNECTION_ERR = 6600104,
      ERR_CODE_COMMAND_INVALID = 6600105,
      ERR_CODE_SESSION_INACTIVE = 6600106,
      ERR_CODE_MESSAGE_OVERLOAD = 6600107,
      ERR_CODE_DEVICE_CONNECTION_FAILED = 6600108,
      ERR_CODE_REMOTE_CONNECTION_NOT_EXIST = 6600109
    }

    enum SkipIntervals { SECONDS_10 = 10, SECONDS_15 = 15, SECONDS_30 = 30 }

    interface AVMetadata {
      assetId: string;
      title?: string;
      artist?: string;
      author?: string;
      album?: string;
      writer?: string;
      composer?: string;
      duration?: number;
      mediaImage?: string;
      publishDate?: Date;
      subtitle?: string;
      description?: string;
      lyric?: string;
      previousAssetId?: string;
      nextAssetId?: string;
      skipIntervals?: SkipIntervals;
    }

    interface PlaybackPosition {
      elapsedTime: number;
      updateTime: number;
    }

    interface AVPlaybackState {
      state?: PlaybackState;
      speed?: number;
      position?: PlaybackPosition;
      bufferedTime?: number;
      loopMode?: LoopMode;
      isFavorite?: boolean;
      activeItemId?: number;
    }

    interface AVMediaDescription {
      assetId: string;
      title?: string;
      subtitle?: string;
      description?: string;
      mediaImage?: string;
      mediaUri?: string;
      albumTitle?: string;
      artist?: string;
      duration?: number;
    }

    interface AVQueueItem {
      itemId: number;
      description?: AVMediaDescription;
    }

    interface AVSession {
      readonly sessionId: string;
      readonly sessionType: AVSessionType;
      setAVMetadata(data: AVMetadata): Promise<void>;
      setAVPlaybackState(state: AVPlaybackState): Promise<void>;
      setAVQueueItems(items: Array<AVQueueItem>): Promise<void>;
      setAVQueueTitle(title: string): Promise<void>;
      setLaunchAbility(ability: WantAgent): Promise<void>;
      activate(): Promise<void>;
      deactivate(): Promise<void>;
      destroy(): Promise<void>;
      on(type: 'play' | 'pause' | 'stop' | 'playNext' | 'playPrevious', callback: () => void): void;
      on(type: 'fastForward' | 'rewind', callback: (time?: number) => void): void;
      on(type: 'seek', callback: (time: number) => void): void;
      on(type: 'setSpeed', callback: (speed: number) => void): void;
      on(type: 'setLoopMode', callback: (mode: LoopMode) => void): void;
      on(type: 'toggleFavorite', callback: (assetId: string) => void): void;
      on(type: 'skipToQueueItem', callback: (itemId: number) => void): void;
      off(type: 'play' | 'pause' | 'stop' | 'playNext' | 'playPrevious',
        callback?: () => void): void;
      off(type: 'fastForward' | 'rewind', callback?: (time?: number) => void): void;
      off(type: 'seek', callback?: (time: number) => void): void;
      off(type: 'setSpeed', callback?: (speed: number) => void): void;
      off(type: 'setLoopMode', callback?: (mode: LoopMode) => void): void;
      off(type: 'toggleFavorite', callback?: (assetId: string) => void): void;
      off(type: 'skipToQueueItem', callback?: (itemId: number) => void): void;
    }
  }
}

declare module '@kit.BackgroundTasksKit' {
  import { common } from '@kit.AbilityKit';
  import { WantAgent } from '@kit.AbilityKit';

  export namespace backgroundTaskManager {
    enum BackgroundMode {
      DATA_TRANSFER = 1,
      AUDIO_PLAYBACK = 2,
      AUDIO_RECORDING = 3,
      LOCATION = 4,
      BLUETOOTH_INTERACTION = 5,
      MULTI_DEVICE_CONNECTION = 6,
      VOIP = 8,
      TASK_KEEPING = 9
    }

    function startBackgroundRunning(context: common.Context, bgMode: BackgroundMode,
      wantAgent: WantAgent): Promise<void>;
    function stopBackgroundRunning(context: common.Context): Promise<void>;

    // 15+: where the system cancels the task (absent on older devices: look before calling).
    enum ContinuousTaskCancelReason {
      USER_CANCEL = 1,
      SYSTEM_CANCEL = 2,
      USER_CANCEL_REMOVE_NOTIFICATION = 3,
      SYSTEM_CANCEL_DATA_TRANSFER_LOW_SPEED = 4,
      SYSTEM_CANCEL_AUDIO_PLAYBACK_NOT_USE_AVSESSION = 5,
      SYSTEM_CANCEL_AUDIO_PLAYBACK_NOT_RUNNING = 6
    }
    interface ContinuousTaskCancelInfo {
      reason: ContinuousTaskCancelReason;
      id: number;
    }
    function on(type: 'continuousTaskCancel',
      callback: (info: ContinuousTaskCancelInfo) => void): void;
    function off(type: 'continuousTaskCancel',
      callback?: (info: ContinuousTaskCancelInfo) => void): void;
  }
}
