'use strict';
// A loopback HTTP server for the stream suites: serves the sample media and generated MP3, and on
// request misbehaves the way networks do. Listens on 127.0.0.1 only, on a port of its own; close()
// ends every connection and timer at once, so no case outlives its test.
//
// Paths: /media/<name> (examples/media), /mp3/<seconds> (a silent 128 kb/s MP3 of that length),
// /live.mp3 (the same frames without end or length). Query, all optional:
//   info=1          (/mp3/ only) the first frame is an Info frame carrying the frame count, so the
//                   container gives its duration whatever the transport
//   length=chunked  no length, Transfer-Encoding: chunked; length=close: no length, not chunked,
//                   the body ends when the connection closes. Either ignores Range requests.
//   headerRate=BPS  trickle the status line and headers at BPS bytes a second
//   endlessHeaders=1  send header lines for ever, a short one every 100 ms
//   status=N        answer N with no body
//   hold=1          take the connection and never answer
//   headerDelay=MS  answer after MS
//   stall=BYTES:MS  at byte BYTES of the file, send nothing for MS; without :MS until resume()
//   drop=BYTES      cut the connection at byte BYTES of the file; with reset=1 by a reset (RST)
//   holdRange=A-B   a request for a range that starts within bytes A..B is taken, never answered
//   rate=BPS        trickle the body at BPS bytes a second
//   ranges=0        ignore Range requests and send no length
const http = require('node:http');
const fs = require('node:fs');
const path = require('node:path');

const MEDIA_DIR = path.join(__dirname, '..', '..', 'examples', 'media');

// MPEG-1 layer III, 128 kb/s, 44.1 kHz, mono, no padding: 417 bytes and 1152 samples a frame.
// Zero side information decodes as silence.
const MP3_FRAME_BYTES = 417;
const MP3_FRAME_MS = 1152 / 44.1;
const MP3_BYTES_PER_SECOND = 16000;

function mp3Frames(count) {
  const data = Buffer.alloc(MP3_FRAME_BYTES * count);
  for (let i = 0; i < count; i++) data.set([0xff, 0xfb, 0x90, 0xc4], i * MP3_FRAME_BYTES);
  return data;
}

const mp3FrameCount = (seconds) => Math.ceil((seconds * 1000) / MP3_FRAME_MS);

// Bytes of a silent MP3 of seconds.
const mp3 = (seconds) => mp3Frames(mp3FrameCount(seconds));

// An Info frame (the CBR form of the Xing header) counting frames audio frames, then the frames:
// the tag sits after the 4-byte header and 17 bytes of mono side information.
function mp3WithInfo(seconds) {
  const frames = mp3FrameCount(seconds);
  const info = mp3Frames(1);
  info.write('Info', 21, 'latin1');
  // The frame count alone: FFmpeg drops the duration of a header that also gives a byte count
  // when it cannot learn the stream's size.
  info.writeUInt32BE(0x1, 25);
  info.writeUInt32BE(frames, 29);
  return Buffer.concat([info, mp3Frames(frames)]);
}

// Pieces are small, so that stalls, drops and trickles fall where asked.
const CHUNK = 4096;

// A response written straight to the socket, for what Node's own would not send: trickled or
// endless headers and close-delimited bodies. Offers the part of a response send() uses; the
// connection closes after it.
function rawResponse(res, status, headers, chunked) {
  const socket = res.socket;
  const out = {
    socket,
    get destroyed() {
      return socket.destroyed;
    },
    flushHeaders: () => {},
    once: (event, fn) => socket.once(event, fn),
    write: (data) => {
      if (!chunked) return socket.write(data);
      return socket.write(Buffer.concat([Buffer.from(`${data.length.toString(16)}\r\n`), data,
        Buffer.from('\r\n')]));
    },
    end: () => socket.end(chunked ? '0\r\n\r\n' : undefined),
    head: () => {
      const lines = [`HTTP/1.1 ${status} ${http.STATUS_CODES[status]}`];
      for (const [k, v] of Object.entries(headers)) lines.push(`${k}: ${v}`);
      if (chunked) lines.push('Transfer-Encoding: chunked');
      lines.push('Connection: close', '', '');
      return Buffer.from(lines.join('\r\n'));
    },
  };
  return out;
}

function startServer() {
  const sockets = new Set();
  const timers = new Set();
  const requests = [];
  const stalled = new Set();
  let closed = false;

  const later = (ms, fn) => {
    const t = setTimeout(() => {
      timers.delete(t);
      if (!closed) fn();
    }, ms);
    timers.add(t);
  };

  // Writes body, which starts at byte first of the file, honouring stall, drop and rate; live
  // repeats body for ever.
  function send(res, body, first, q, live) {
    // Only a response that starts before the spot reaches it: the tail a demuxer reads first
    // passes.
    const spot = (at) => (at >= first ? at : -1);
    const [stallBytes, stallMs] = q.stall ? q.stall.split(':').map(Number) : [-1, 0];
    const stallAt = spot(stallBytes);
    const dropAt = q.drop !== undefined ? spot(Number(q.drop)) : -1;
    const rate = q.rate ? Number(q.rate) : 0;
    let sent = first;
    let held = false;
    let at = 0;
    const pump = () => {
      while (!closed && !res.destroyed) {
        if (!live && at >= body.length) {
          res.end();
          return;
        }
        if (dropAt >= 0 && sent >= dropAt) {
          // Once what was sent has left; a reset (reset=1) may still make the peer drop what it
          // had not read.
          const socket = res.socket;
          if (sent === first) res.flushHeaders();
          socket.write('', () => (q.reset ? socket.resetAndDestroy() : socket.destroy()));
          return;
        }
        if (stallAt >= 0 && !held && sent >= stallAt) {
          held = true;
          if (stallMs > 0) {
            later(stallMs, pump);
          } else {
            stalled.add(pump);
          }
          return;
        }
        let n = Math.min(CHUNK, body.length - at);
        if (dropAt >= 0) n = Math.min(n, dropAt - sent);
        if (stallAt >= 0 && !held) n = Math.min(n, stallAt - sent);
        if (rate > 0) n = Math.min(n, Math.max(1, Math.floor(rate / 10)));
        const more = res.write(body.subarray(at, at + n));
        sent += n;
        at += n;
        if (live && at >= body.length) at = 0;
        if (rate > 0) {
          later(100, pump);
          return;
        }
        if (!more) {
          res.once('drain', pump);
          return;
        }
      }
    };
    pump();
  }

  function answer(req, res) {
    const url = new URL(req.url, 'http://127.0.0.1');
    const q = Object.fromEntries(url.searchParams);
    requests.push({ path: url.pathname, query: q, headers: req.headers });
    if (q.hold) return;
    const held = q.holdRange && /^(\d+)-(\d+)$/.exec(q.holdRange);
    const asked = /^bytes=(\d+)-/.exec(req.headers.range || '');
    const start = asked ? Number(asked[1]) : -1;
    if (held && start >= Number(held[1]) && start <= Number(held[2])) return;
    if (q.status) {
      res.writeHead(Number(q.status), { 'Content-Length': 0 });
      res.end();
      return;
    }
    const live = url.pathname === '/live.mp3';
    let body = null;
    let type = 'audio/mpeg';
    if (live) {
      body = mp3(1);
    } else if (url.pathname.startsWith('/mp3/')) {
      const seconds = Number(url.pathname.slice(5));
      body = q.info ? mp3WithInfo(seconds) : mp3(seconds);
    } else if (url.pathname.startsWith('/media/')) {
      const name = path.basename(url.pathname);
      try {
        body = fs.readFileSync(path.join(MEDIA_DIR, name));
      } catch {
        body = null;
      }
      type = name.endsWith('.mp4') ? 'video/mp4' : 'audio/mp4';
    }
    if (body === null) {
      res.writeHead(404, { 'Content-Length': 0 });
      res.end();
      return;
    }
    const headers = { 'Content-Type': type };
    let status = 200;
    let first = 0;
    const lengthless = q.length === 'chunked' || q.length === 'close';
    const ranged = !live && q.ranges !== '0' && !lengthless;
    const range = ranged && /^bytes=(\d+)-(\d*)$/.exec(req.headers.range || '');
    if (range) {
      const start = Number(range[1]);
      const end = range[2] ? Math.min(Number(range[2]), body.length - 1) : body.length - 1;
      if (start >= body.length) {
        res.writeHead(416, { 'Content-Range': `bytes */${body.length}`, 'Content-Length': 0 });
        res.end();
        return;
      }
      headers['Content-Range'] = `bytes ${start}-${end}/${body.length}`;
      body = body.subarray(start, end + 1);
      first = start;
      status = 206;
    }
    if (ranged) {
      headers['Content-Length'] = body.length;
      headers['Accept-Ranges'] = 'bytes';
    }
    const raw = q.headerRate || q.endlessHeaders || q.length === 'close';
    const go = () => {
      if (raw) {
        goRaw();
        return;
      }
      res.writeHead(status, headers);
      if (req.method === 'HEAD') {
        res.end();
      } else {
        send(res, body, first, q, live);
      }
    };
    // Node's chunked framing is used unless the headers go out raw.
    const goRaw = () => {
      const chunked = q.length !== 'close' && !headers['Content-Length'];
      const out = rawResponse(res, status, headers, chunked);
      const socket = out.socket;
      if (q.endlessHeaders) {
        socket.write(`HTTP/1.1 ${status} ${http.STATUS_CODES[status]}\r\n`);
        let n = 0;
        const more = () => {
          if (socket.destroyed) return;
          socket.write(`X-More-${n++}: 1\r\n`);
          later(100, more);
        };
        more();
        return;
      }
      const head = out.head();
      const sendBody = () => (req.method === 'HEAD' ? socket.end() :
        send(out, body, first, q, live));
      if (!q.headerRate) {
        socket.write(head);
        sendBody();
        return;
      }
      // Ten pieces a second, at least a byte each.
      const piece = Math.max(1, Math.floor(Number(q.headerRate) / 10));
      let at = 0;
      const trickle = () => {
        if (socket.destroyed) return;
        socket.write(head.subarray(at, at + piece));
        at += piece;
        if (at < head.length) {
          later(100, trickle);
        } else {
          sendBody();
        }
      };
      trickle();
    };
    if (q.headerDelay) {
      later(Number(q.headerDelay), go);
    } else {
      go();
    }
  }

  const server = http.createServer(answer);
  server.on('connection', (s) => {
    sockets.add(s);
    s.on('close', () => sockets.delete(s));
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const base = `http://127.0.0.1:${server.address().port}`;
      resolve({
        base,
        url: (p, query = '') => `${base}${p}${query ? `?${query}` : ''}`,
        requests,
        // Open connections: a case ends once the engine has let go of its own.
        connections: () => sockets.size,
        // Ends the stalls that wait for it.
        resume: () => {
          const pumps = [...stalled];
          stalled.clear();
          pumps.forEach((pump) => pump());
        },
        close: () => new Promise((done) => {
          closed = true;
          for (const t of timers) clearTimeout(t);
          timers.clear();
          for (const s of sockets) s.destroy();
          server.close(() => done());
        }),
      });
    });
  });
}

// What FFmpeg reports for this server's failures, from its headers: AVERROR(e) is -e, the HTTP
// answers are tags of their own.
const STREAM_ERRORS = { EIO: -5, ETIMEDOUT: -110, HTTP_NOT_FOUND: -875574520,
  HTTP_SERVER_ERROR: -1482175992 };

module.exports = { startServer, mp3, mp3WithInfo, mp3FrameCount, MP3_FRAME_BYTES,
  MP3_BYTES_PER_SECOND, MP3_FRAME_MS, STREAM_ERRORS };
