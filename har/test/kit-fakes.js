'use strict';
// Recording stand-ins for the platform's media session and background task kits, with the members
// and values that har/test/arkts-kits.d.ts declares. Every call is recorded in order with its
// arguments; a failure can be queued for any call. A destroyed session refuses every call with
// 6600102 and a second start of the task is refused with 9800005, as on the platform.

const PlaybackState = {
  PLAYBACK_STATE_INITIAL: 0, PLAYBACK_STATE_PREPARE: 1, PLAYBACK_STATE_PLAY: 2,
  PLAYBACK_STATE_PAUSE: 3, PLAYBACK_STATE_FAST_FORWARD: 4, PLAYBACK_STATE_REWIND: 5,
  PLAYBACK_STATE_STOP: 6, PLAYBACK_STATE_COMPLETED: 7, PLAYBACK_STATE_RELEASED: 8,
  PLAYBACK_STATE_ERROR: 9, PLAYBACK_STATE_IDLE: 10, PLAYBACK_STATE_BUFFERING: 11,
};
const LoopMode = {
  LOOP_MODE_SEQUENCE: 0, LOOP_MODE_SINGLE: 1, LOOP_MODE_LIST: 2, LOOP_MODE_SHUFFLE: 3,
  LOOP_MODE_CUSTOM: 4,
};
const AVSessionErrorCode = {
  ERR_CODE_SERVICE_EXCEPTION: 6600101, ERR_CODE_SESSION_NOT_EXIST: 6600102,
  ERR_CODE_CONTROLLER_NOT_EXIST: 6600103, ERR_CODE_REMOTE_CONNECTION_ERR: 6600104,
  ERR_CODE_COMMAND_INVALID: 6600105, ERR_CODE_SESSION_INACTIVE: 6600106,
  ERR_CODE_MESSAGE_OVERLOAD: 6600107, ERR_CODE_DEVICE_CONNECTION_FAILED: 6600108,
  ERR_CODE_REMOTE_CONNECTION_NOT_EXIST: 6600109,
};
const SkipIntervals = { SECONDS_10: 10, SECONDS_15: 15, SECONDS_30: 30 };
const BackgroundMode = {
  DATA_TRANSFER: 1, AUDIO_PLAYBACK: 2, AUDIO_RECORDING: 3, LOCATION: 4,
  BLUETOOTH_INTERACTION: 5, MULTI_DEVICE_CONNECTION: 6, VOIP: 8, TASK_KEEPING: 9,
};

function platformError(code, message) {
  const e = new Error(message);
  e.code = code;
  return e;
}

// The record, the queued failures and the sessions made, shared by both kits.
const state = { calls: [], faults: [], sessions: [], running: false, made: 0 };

function record(name, args) {
  state.calls.push({ name, args });
}

// A queued fault for this call name, taken once; undefined when none.
function takeFault(name) {
  const at = state.faults.findIndex((f) => f.name === name);
  if (at < 0) return undefined;
  return state.faults.splice(at, 1)[0];
}

function settle(name, args, ok) {
  record(name, args);
  const fault = takeFault(name.replace(/^session\d+\./, ''));
  if (fault) return Promise.reject(platformError(fault.code, `${name}: injected ${fault.code}`));
  return ok();
}

class FakeSession {
  constructor(n, tag, type) {
    this.n = n;
    this.sessionId = `session${n}`;
    this.sessionType = type;
    this.tag = tag;
    this.listeners = new Map();
    this.destroyed = false;
  }

  method(name, args) {
    return settle(`${this.sessionId}.${name}`, args, () => (this.destroyed ?
      Promise.reject(platformError(6600102, `${this.sessionId} was destroyed`)) :
      Promise.resolve()));
  }

  setAVMetadata(data) { return this.method('setAVMetadata', [data]); }
  setAVPlaybackState(s) { return this.method('setAVPlaybackState', [s]); }
  setAVQueueItems(items) { return this.method('setAVQueueItems', [items]); }
  setAVQueueTitle(title) { return this.method('setAVQueueTitle', [title]); }
  setLaunchAbility(agent) { return this.method('setLaunchAbility', [agent]); }
  activate() { return this.method('activate', []); }
  deactivate() { return this.method('deactivate', []); }
  destroy() {
    const done = this.method('destroy', []);
    this.destroyed = true;
    this.listeners.clear();
    return done;
  }

  on(type, callback) {
    record(`${this.sessionId}.on`, [type]);
    if (typeof callback !== 'function') throw platformError(401, 'on: no callback');
    if (!this.listeners.has(type)) this.listeners.set(type, []);
    this.listeners.get(type).push(callback);
  }

  off(type, callback) {
    record(`${this.sessionId}.off`, [type]);
    const list = this.listeners.get(type) || [];
    const kept = callback === undefined ? [] : list.filter((c) => c !== callback);
    if (kept.length === 0) this.listeners.delete(type);
    else this.listeners.set(type, kept);
  }

  /** What the controller does: each listener of the command, called with these arguments. */
  fire(type, ...args) {
    for (const cb of this.listeners.get(type) || []) cb(...args);
  }

  listenerCount() {
    let n = 0;
    for (const list of this.listeners.values()) n += list.length;
    return n;
  }
}

const avSession = {
  PlaybackState, LoopMode, AVSessionErrorCode, SkipIntervals,
  createAVSession(context, tag, type) {
    return settle('createAVSession', [tag, type], () => {
      const session = new FakeSession(++state.made, tag, type);
      state.sessions.push(session);
      return Promise.resolve(session);
    });
  },
};

const backgroundTaskManager = {
  BackgroundMode,
  startBackgroundRunning(context, mode, wantAgent) {
    return settle('startBackgroundRunning', [mode], () => {
      if (state.running || wantAgent === undefined) {
        return Promise.reject(platformError(9800005, 'the task is already running'));
      }
      state.running = true;
      return Promise.resolve();
    });
  },
  stopBackgroundRunning() {
    return settle('stopBackgroundRunning', [], () => {
      if (!state.running) return Promise.reject(platformError(9800005, 'no task is running'));
      state.running = false;
      return Promise.resolve();
    });
  },
};

// The 15+ task-cancel listener, absent as on an API 11 device until a test adds it.
const cancelListeners = [];
function addCancelApi() {
  backgroundTaskManager.on = (type, callback) => {
    record('backgroundTaskManager.on', [type]);
    cancelListeners.push(callback);
  };
  backgroundTaskManager.off = (type, callback) => {
    record('backgroundTaskManager.off', [type]);
    const at = cancelListeners.indexOf(callback);
    if (at >= 0) cancelListeners.splice(at, 1);
  };
}
function removeCancelApi() {
  delete backgroundTaskManager.on;
  delete backgroundTaskManager.off;
  cancelListeners.length = 0;
}
/** The system cancels the task (reason 6: audio playback not running). */
function cancelTask() {
  state.running = false;
  for (const cb of cancelListeners.slice()) cb({ reason: 6, id: 1 });
}

const kits = {
  '@kit.AVSessionKit': { avSession },
  '@kit.BackgroundTasksKit': { backgroundTaskManager },
  '@kit.AbilityKit': {},
};

module.exports = {
  kits,
  state,
  avSession,
  backgroundTaskManager,
  /** Starts a fresh record: no calls, faults, sessions or running task. */
  reset() {
    state.calls = [];
    state.faults = [];
    state.sessions = [];
    state.running = false;
    state.made = 0;
  },
  /** The next call of this name (createAVSession, setAVPlaybackState, ...) fails with code. */
  fail(name, code, times = 1) {
    for (let i = 0; i < times; i++) state.faults.push({ name, code });
  },
  addCancelApi,
  removeCancelApi,
  cancelTask,
  cancelListeners,
  /** The last session made. */
  session() {
    return state.sessions[state.sessions.length - 1];
  },
  /** The recorded calls as lines: name and arguments in JSON. */
  transcript(from = 0) {
    return state.calls.slice(from).map((c) => (c.args.length === 0 ? c.name :
      `${c.name} ${c.args.map((a) => JSON.stringify(a)).join(' ')}`));
  },
};
