#!/usr/bin/env node
// Shows the live transcript of one speechline run.
//
//   node transcribe.js [--locale en-US] [--timeout 60] [--speechline PATH]
//
// The transcript goes to standard output: on a terminal as one line rewritten in place,
// otherwise one line per change ("partial: ..." and "final: ..."). Status and errors go to
// standard error. Ctrl-C or the timeout stops the run; what was heard until then stays shown.
//
// Exit status: 0 after a final transcript or a stop, 1 after a speechline error, 2 when
// speechline could not be started.
'use strict';

const { spawn } = require('node:child_process');
const readline = require('node:readline');
const { parseArgs } = require('node:util');

// What a user can do about each error code. The message that comes with the code says what
// happened; an unknown code is still reported, with its message.
const ADVICE = {
  speech_permission_denied: 'Allow speech recognition in System Settings > Privacy & Security.',
  microphone_permission_denied: 'Allow microphone access in System Settings > Privacy & Security.',
  recognizer_unavailable:
    "Check the locale, or install a model for it (docs/protocol.md, 'Linux models').",
  on_device_unavailable: 'Run without --requires-on-device, or choose another locale.',
  microphone_unavailable: "Connect or select a microphone ('pactl info' shows the default source).",
  audio_engine_failed: 'The sound system refused to record; try again.',
  recognition_failed: 'Recognition ended early; the text above is what was heard.',
};

function status(message) {
  process.stderr.write(`transcribe: ${message}\n`);
}

// The live transcript: each partial replaces the one before.
class TranscriptView {
  constructor(out) {
    this.out = out;
    this.live = Boolean(out.isTTY);
    this.shown = false;
  }

  show(text, final) {
    if (this.live) {
      // Carriage return and erase-line: the new text replaces the old in place.
      this.out.write(`\r\x1b[K${text}${final ? '\n' : ''}`);
      this.shown = !final;
    } else {
      this.out.write(`${final ? 'final' : 'partial'}: ${text}\n`);
    }
  }

  close() {
    if (this.shown) {
      this.out.write('\n');
      this.shown = false;
    }
  }
}

function main() {
  const { values } = parseArgs({
    options: {
      locale: { type: 'string', default: 'en-US' },
      timeout: { type: 'string', default: '60' }, // seconds; 0: never
      speechline: { type: 'string', default: 'speechline' },
    },
  });
  const timeoutSeconds = Number(values.timeout);

  const child = spawn(values.speechline, ['--locale', values.locale], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });

  let recording = false;
  let stopWanted = false;
  function requestStop() {
    // Before "recording", speechline may not have its own handlers yet; the stop is sent as
    // soon as it says it is listening.
    if (recording && !stopWanted) child.kill('SIGINT');
    stopWanted = true;
  }

  // Ctrl-C in a terminal also reaches speechline directly; forwarding covers the cases where
  // it does not (no terminal, a parent that signals us alone). A second one is harmless.
  process.on('SIGINT', requestStop);
  process.on('SIGTERM', requestStop);
  const timer = timeoutSeconds > 0 ? setTimeout(requestStop, timeoutSeconds * 1000) : null;

  function finish(exitCode) {
    clearTimeout(timer);
    process.off('SIGINT', requestStop);
    process.off('SIGTERM', requestStop);
    process.exitCode = exitCode;
  }

  let spawnFailed = false;
  child.on('error', (error) => {
    // The program could not be started (ENOENT, EACCES). 'close' still follows, without a
    // status of speechline's.
    spawnFailed = true;
    status(`cannot start ${values.speechline}: ${error.message}`);
    finish(2);
  });

  const view = new TranscriptView(process.stdout);
  let errorCode = null;
  const lines = readline.createInterface({ input: child.stdout, crlfDelay: Infinity });
  lines.on('line', (line) => {
    const event = JSON.parse(line);
    if (event.type === 'state' && event.state === 'recording') {
      recording = true;
      status('listening (Ctrl-C to stop)');
      if (stopWanted) child.kill('SIGINT');
    } else if (event.type === 'result') {
      view.show(event.text, event.isFinal);
    } else if (event.type === 'error') {
      view.close();
      errorCode = event.code;
      status(`error ${event.code}: ${event.message}`);
      if (ADVICE[event.code]) status(ADVICE[event.code]);
    } else if (event.type === 'state' && event.state === 'stopped') {
      view.close();
      status('stopped');
    }
  });

  // 'close' comes after the exit and after the last line of output has been read.
  child.on('close', (code, signal) => {
    view.close();
    if (spawnFailed) return;
    if (signal !== null) {
      // Killed before it could stop in order (a signal in its first milliseconds, SIGKILL).
      status(`ended by ${signal}`);
      finish(signal === 'SIGINT' || signal === 'SIGTERM' ? 0 : 1);
    } else {
      finish(errorCode !== null || code !== 0 ? 1 : 0);
    }
  });
}

main();
