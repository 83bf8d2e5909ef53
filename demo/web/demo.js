// @ts-check
// The ombrix demo: one panel per family of the page API. Checked against
// docs/ombrix.d.ts by the test `types.declarations`. Every call's outcome is
// shown on the page: a thrown wrong-arguments error, a false, a status code or
// a callback's code each get a red line with what it means.
'use strict';

// ------------------------------------------------------------ page helpers --

/** @param {string} id */
function el(id) {
  const found = document.getElementById(id);
  if (!found) throw new Error('the page has no element #' + id);
  return found;
}

/** @param {string} id */
function field(id) {
  return /** @type {HTMLInputElement} */ (el(id));
}

/** @param {string} id @param {() => void} action */
function onClick(id, action) {
  el(id).addEventListener('click', () => attempt(panelOf(el(id)), action));
}

/** @param {HTMLElement} node */
function panelOf(node) {
  const panel = node.closest('section');
  return panel ? panel.id : 'about';
}

/** @param {number} bytes */
function megabytes(bytes) {
  return (bytes / 1048576).toFixed(1) + ' MB';
}

/** @param {string} text */
function escapeHtml(text) {
  const span = document.createElement('span');
  span.textContent = text;
  return span.innerHTML;
}

/** Whether the page runs inside ombrix (and in a frame the manifest trusts). */
const native = typeof ombrix !== 'undefined';

/** The status line at the bottom of the window. */
const statusLine = el('status');

/**
 * Adds a line to a panel's log and shows it on the status line.
 * @param {string} panel @param {string} text @param {"ok"|"error"|""} [kind]
 */
function log(panel, text, kind = '') {
  const list = document.getElementById(panel + '-log');
  const line = document.createElement('li');
  const time = document.createElement('time');
  time.textContent = new Date().toLocaleTimeString();
  line.append(time, text);
  if (kind) line.className = kind;
  if (list) {
    list.prepend(line);
    while (list.children.length > 40) list.lastElementChild?.remove();
  }
  // The status line shows the latest outcome of any panel.
  if (kind) {
    statusLine.textContent = panel + ': ' + text;
    statusLine.className = kind;
  }
}

/** @param {HTMLElement} box @param {string} text @param {"ok"|"error"|"busy"|""} kind */
function showState(box, text, kind) {
  box.textContent = text;
  box.className = 'state' + (kind ? ' ' + kind : '');
}

/** English for the wrong-arguments texts the families throw. */
const thrownMeanings = [
  ['错误的参数，参数列表：', 'wrong arguments; the call takes: '],
  ['下载文件失败，请传入正确的参数', 'download refused: check the URL and the path'],
  ['发票张数, 回调函数', 'ticket count, callback'],
  ['串口端口', 'serial port'],
];

/** @param {unknown} error */
function explainThrown(error) {
  let text = error instanceof Error ? error.message : String(error);
  const original = text;
  for (const [chinese, english] of thrownMeanings) text = text.split(chinese).join(english);
  return text === original ? text : text + ' (' + original + ')';
}

/**
 * Runs a button's action; a missing object or a thrown error is shown, never lost.
 * @param {string} panel @param {() => void} action
 */
function attempt(panel, action) {
  if (!native) {
    log(panel, 'ombrix is not available in this page', 'error');
    return;
  }
  try {
    action();
  } catch (error) {
    log(panel, 'the call threw: ' + explainThrown(error), 'error');
  }
}

window.addEventListener('error', (event) => {
  statusLine.textContent = 'script error: ' + event.message;
  statusLine.className = 'error';
});

// -------------------------------------------------------- run parameters --

/**
 * A run parameter's value: run-demo writes a space as %20, since the shell
 * joins its arguments with spaces.
 * @param {string} value
 */
function decodeParameter(value) {
  try {
    return decodeURIComponent(value);
  } catch (error) {
    return value;  // a lone % is kept as it is
  }
}

/**
 * The words "name=value" of the run parameter. scripts/run-demo starts the
 * shell as `ombrix ombrix.json device=/dev/pts/N download=http://... tools=DIR`;
 * the first word names the manifest.
 */
function runParameters() {
  /** @type {{[name: string]: string}} */
  const found = {};
  if (!native) return found;
  for (const word of ombrix.app.runparam().split(' ')) {
    const equals = word.indexOf('=');
    if (equals > 0) found[word.slice(0, equals)] = decodeParameter(word.slice(equals + 1));
  }
  return found;
}

const params = runParameters();
const appFolder = native ? ombrix.app.apppath() : '.';

// ----------------------------------------------------------------- panels --

function setUpNavigation() {
  const buttons = Array.from(document.querySelectorAll('nav button'));
  for (const button of buttons) {
    button.addEventListener('click', () => {
      const wanted = button.getAttribute('data-panel');
      for (const other of buttons) other.classList.toggle('current', other === button);
      for (const panel of Array.from(document.querySelectorAll('section.panel'))) {
        /** @type {HTMLElement} */ (panel).hidden = panel.id !== wanted;
      }
      declareCaption();
    });
  }
}

// ------------------------------------------------------- caption and window --

/** The header drags the window, except its buttons on the right. */
function declareCaption() {
  if (!native) return;
  const bar = el('caption');
  const controls = el('controls');
  ombrix.gui.setInTitleBar([
    {left: 0, top: 0, width: controls.getBoundingClientRect().left, height: bar.offsetHeight},
  ]);
}

/** @param {string} request */
function windowRequest(request) {
  cefQuery({
    request: request,
    onSuccess: () => log('window', request + ': done', 'ok'),
    onFailure: (code, message) =>
        log('window', request + ' failed: ' + code + ' ' + message, 'error'),
  });
}

function setUpWindow() {
  onClick('win-min', () => windowRequest('Window.Minimize'));
  onClick('win-max', () => ombrix.gui.maxwin());
  onClick('win-close', () => ombrix.app.exitapp());
  onClick('gui-resize', () => ombrix.gui.resizeTo(900, 600));
  onClick('gui-center', () => ombrix.gui.movecenter());
  onClick('gui-corner', () => windowRequest('WindowTest.Position:0,0,800,560'));
  onClick('gui-max', () => ombrix.gui.maxwin());
  onClick('gui-min', () => windowRequest('Window.Minimize'));
  onClick('gui-hide', () => {
    windowRequest('Window.Hide');
    setTimeout(() => windowRequest('Window.Restore'), 3000);
  });
  const lock = field('gui-lock');
  lock.addEventListener(
      'change',
      () => attempt('window', () => {
        ombrix.gui.disableResize(lock.checked);
        log('window',
            lock.checked ? 'size locked: no edge resizing, no maximising' : 'size unlocked', 'ok');
      }));
  window.addEventListener('windowstate', (event) => {
    const state = event.detail.state.replace('windowstate.', '');
    el('win-state').textContent = 'window state: ' + state;
    log('window', 'windowstate event: ' + state);
  });
  window.addEventListener('resize', declareCaption);
  declareCaption();
}

// -------------------------------------------------------------------- tray --

/** @param {string} what @param {boolean|undefined} result */
function trayResult(what, result) {
  // undefined: sent to the window; false: the arguments were not strings.
  if (result === false)
    log('window', what + ': refused', 'error');
  else
    log('window', what, 'ok');
}

function setUpTray() {
  // Tray icons are read from disk (not from the archive), relative to the app folder.
  onClick(
      'tray-show',
      () => trayResult(
          'tray icon shown',
          ombrix.app.showtray('web/icon.png', 'ombrix demo', 'ombrix demo: ticket kiosk')));
  onClick(
      'tray-alert',
      () => trayResult('tray icon: alert', ombrix.app.modifytrayicon('web/icon-alert.png')));
  onClick(
      'tray-normal',
      () => trayResult('tray icon: normal', ombrix.app.modifytrayicon('web/icon.png')));
  onClick('tray-hide', () => trayResult('tray icon removed', ombrix.app.hidetray()));
}

// -------------------------------------------------------------- dispenser --

/** What the dispenser's result codes mean. */
const fpjMeanings = {
  '0': 'done',
  '-100': 'no port: connect to a device first',
  '-102': 'the device reported status 1 (fpj-sim: out of tickets)',
  '-103': 'the device reported status 2',
  '-104': 'the device reported status 3',
  '-105': 'the device reported status 5',
  '-106': 'the device reported status 4',
  '-107': 'the device reported an unknown status',
  '-108': 'the reply\'s checksum was wrong',
  '-109': 'no reply in time (is the device there? after a failed open, connect again)',
  '-200': 'busy: another dispenser command is still running',
};

/**
 * A result number with what it means, e.g. "code -102: ...".
 * @param {string} label
 * @param {{[code: string]: string}} meanings
 * @param {number} code
 */
function codeText(label, meanings, code) {
  const meaning = meanings[String(code)];
  return label + ' ' + code + (meaning ? ': ' + meaning : '');
}

/** @param {number} code */
function fpjText(code) {
  return codeText('code', fpjMeanings, code);
}

/**
 * Reports a dispenser command's start code; false when it did not start.
 * @param {string} what @param {number} start
 */
function started(what, start) {
  if (start === 0) return true;
  log('tickets', what + ' not sent, ' + fpjText(start), 'error');
  return false;
}

/** @param {string} what @param {number} code */
function fpjDone(what, code) {
  log('tickets', what + ': ' + fpjText(code), code === 0 ? 'ok' : 'error');
}

let ticketPrice = 0;

function readStock() {
  started('count', ombrix.fpj.querybillnum((countOrCode) => {
    if (countOrCode >= 0) {
      el('stock').textContent = String(countOrCode);
      log('tickets', countOrCode + ' tickets left', 'ok');
    } else {
      el('stock').textContent = '?';
      fpjDone('count', countOrCode);
    }
  }));
}

function connect() {
  const device = field('fpj-device').value.trim();
  const state = el('fpj-state');
  if (!device) {
    showState(state, 'type the device path first (fpj-sim prints it)', 'error');
    log('tickets', 'no device path', 'error');
    return;
  }
  ombrix.fpj.close();  // a failed open is only retried after a close
  if (ombrix.fpj.open(device) !== 0) {
    // Closed again, so that later commands answer -100 (no port) rather than -109.
    ombrix.fpj.close();
    showState(state, 'cannot open ' + device, 'error');
    log('tickets', 'open ' + device + ' failed (-100)', 'error');
    return;
  }
  showState(state, 'port open, asking the device...', 'busy');
  started('version', ombrix.fpj.queryversion((code, version) => {
    if (code !== 0) {
      showState(state, device + ': no answer, ' + fpjText(code), 'error');
      fpjDone('version', code);
      return;
    }
    showState(state, 'connected to ' + device + ', firmware ' + version, 'ok');
    log('tickets', 'firmware ' + version, 'ok');
    readStock();
  }));
}

function sell() {
  const count = Number(field('sell-count').value);
  if (!Number.isInteger(count) || count < 1 || count > 20) {
    log('tickets', 'sell between 1 and 20 tickets at a time', 'error');
    return;
  }
  const state = el('fpj-state');
  const button = /** @type {HTMLButtonElement} */ (el('sell'));
  const start = ombrix.fpj.sellbill(count, (code, dispensed) => {
    button.disabled = false;
    const money = ticketPrice > 0 ? ' (' + (dispensed * ticketPrice).toFixed(2) + ')' : '';
    if (code === 0) {
      showState(state, 'sold ' + dispensed + ' ticket(s)' + money, 'ok');
      log('tickets', 'sold ' + dispensed + ' ticket(s)' + money, 'ok');
    } else if (code === -100 || code === -108 || code === -109) {
      // The device's count is unknown: `dispensed` only repeats the count asked for.
      showState(
          state,
          'sale failed, ' + fpjText(code) +
              '; how many tickets left the device is unknown: count the stock',
          'error');
      fpjDone('sell', code);
    } else {
      showState(
          state, 'sale failed after ' + dispensed + ' ticket(s)' + money + ': ' + fpjText(code),
          'error');
      fpjDone('sell', code);
    }
    readStock();
  });
  if (started('sell', start)) {
    button.disabled = true;
    showState(state, 'dispensing ' + count + ' ticket(s)...', 'busy');
  }
}

// A receipt laid out in the hidden frame prints alone; its document hears the
// job's outcome as "printresult" events.
let receiptNumber = 0;
function printReceipt() {
  const frame = /** @type {HTMLIFrameElement} */ (el('receipt'));
  const doc = frame.contentDocument;
  if (!doc) return;
  const number = ++receiptNumber;
  doc.open();
  doc.write('<!DOCTYPE html><title>ombrix demo receipt ' + number + '</title>' +
            '<style>@page { margin: 4mm } body { font: 12px monospace }</style>' +
            '<h1>Receipt ' + number + '</h1><p>' + escapeHtml(new Date().toLocaleString()) +
            '</p><p>Thank you for your visit.</p>');
  doc.close();
  const state = el('receipt-state');
  doc.addEventListener('printresult', (event) => {
    const result = /** @type {Ombrix.PrintResultEvent} */ (event).detail;
    const text = 'receipt ' + number + ': ' + result.state +
        (result.reason ? ' (' + result.reason + ')' : '') +
        (result.job ? ', job ' + result.job : '');
    const kind = result.state === 'completed' ? 'ok' : result.state === 'stopped' ? 'busy' : 'error';
    showState(state, text, kind);
    log('tickets', text, kind === 'busy' ? '' : kind);
  });
  showState(state, 'printing receipt ' + number + '...', 'busy');
  frame.contentWindow && frame.contentWindow.print();
}

function setUpTickets() {
  onClick('receipt-print', printReceipt);
  field('fpj-device').value = params.device || '';
  onClick('fpj-connect', connect);
  onClick('fpj-disconnect', () => {
    const closed = ombrix.fpj.close();
    if (closed === true)
      showState(el('fpj-state'), 'not connected', '');
    else
      log('tickets', 'close refused, ' + fpjText(closed), 'error');
  });
  onClick('fpj-reset', () => started('reset', ombrix.fpj.reset((code) => fpjDone('reset', code))));
  onClick(
      'fpj-sensors',
      () => started(
          'sensors', ombrix.fpj.querysensorstatus((code) => fpjDone('sensor status', code))));
  onClick('sell', sell);
  onClick('stock-query', readStock);
  onClick('stock-set', () => {
    const count = Number(field('stock-refill').value);
    if (!Number.isInteger(count) || count < 0 || count > 32767) {
      log('tickets', 'the stock is a whole number from 0 to 32767', 'error');
      return;
    }
    started('refill', ombrix.fpj.setbillnum(count, (code) => {
      fpjDone('stock set to ' + count, code);
      if (code === 0) readStock();
    }));
  });
  if (native && field('fpj-device').value) attempt('tickets', connect);
}

// --------------------------------------------------------------- download --

/** @type {number|null} */
let downloadId = null;

function startDownload() {
  const state = el('dl-state');
  const bar = /** @type {HTMLProgressElement} */ (el('dl-progress'));
  let url;
  try {
    url =
        new URL(field('dl-url').value.trim()).href;  // percent-encodes: the shell takes ASCII only
  } catch (error) {
    showState(state, 'not a URL: type one such as http://127.0.0.1:8000/file.bin', 'error');
    log('download', 'not a URL: ' + field('dl-url').value, 'error');
    return;
  }
  const target = field('dl-path').value.trim();
  if (!target) {
    showState(state, 'type where to save it', 'error');
    return;
  }
  if (downloadId !== null) ombrix.requestfile.abort(downloadId);
  bar.value = 0;
  const begun = Date.now();
  /** @param {string} text @param {"ok"|"error"} kind */
  const finish = (text, kind) => {
    downloadId = null;
    showState(state, text, kind);
    log('download', text, kind);
  };
  downloadId = ombrix.requestfile.download(
      url, target,
      () => {
        finish('done: ' + target + ' in ' + ((Date.now() - begun) / 1000).toFixed(1) + ' s', 'ok');
        bar.value = 1;
        ombrix.tool.md5file(
            target,
            (md5) => log('download', 'MD5 ' + (md5 || '(unreadable)'), md5 ? 'ok' : 'error'));
      },
      () => finish(
          'failed: no connection, an error status (404, 500...), or the file could not be written',
          'error'),
      () => finish('aborted; what arrived stays in ' + target, 'error'),
      (received, total) => {
        if (total > 0) {
          bar.value = received / total;
          state.textContent = megabytes(received) + ' of ' + megabytes(total) + ' (' +
              Math.floor((100 * received) / total) + ' %)';
        } else {
          bar.removeAttribute('value');
          state.textContent = megabytes(received) + ' (size unknown)';
        }
      });
  showState(state, 'connecting to ' + url + '...', 'busy');
  log('download', 'download ' + downloadId + ': ' + url);
}

/** Saves into downloads/ under the URL's file name (a download truncates its target first). */
function suggestTarget() {
  const name = field('dl-url').value.split(/[?#]/)[0].split('/').pop() || 'download.bin';
  field('dl-path').value = appFolder + '/downloads/' + name;
}

function setUpDownload() {
  field('dl-url').value = params.download || 'http://127.0.0.1:8765/ombrix-demo-24mb.bin';
  suggestTarget();
  field('dl-url').addEventListener('change', suggestTarget);
  onClick('dl-start', startDownload);
  onClick('dl-abort', () => {
    if (downloadId === null)
      log('download', 'nothing to abort', 'error');
    else
      ombrix.requestfile.abort(downloadId);
  });
  onClick('dl-show', () => {
    const path = field('dl-path').value;
    if (!ombrix.file.exist(path))
      log('download', path + ' does not exist yet', 'error');
    else if (!ombrix.file.OpenDirAndPosFile(path))
      log('download', 'no file manager could be opened', 'error');
  });
}

// --------------------------------------------------------------- settings --

/** The demo's own key; its value `price` prices the tickets. */
const demoKey = 'HKEY_CURRENT_USER\\Software\\OmbrixDemo';

/** @param {string} key */
function settingsOf(key) {
  return /** @type {{[name: string]: string}} */ (JSON.parse(ombrix.tool.getregval(key)));
}

function readSettings() {
  const values = settingsOf(field('reg-key').value);
  const body = /** @type {HTMLTableElement} */ (el('reg-table')).tBodies[0];
  body.textContent = '';
  for (const name of Object.keys(values)) {
    const row = body.insertRow();
    row.insertCell().textContent = name;
    row.insertCell().textContent = values[name];
  }
  if (body.rows.length === 0) body.insertRow().insertCell().textContent = '(no values)';
  ticketPrice = Number(settingsOf(demoKey).price) || 0;
  el('sell-price').textContent = ticketPrice > 0 ? 'at ' + ticketPrice.toFixed(2) + ' each' : '';
}

/** @param {string} what @param {boolean} ok */
function settingsResult(what, ok) {
  if (ok)
    log('settings', what + ': done', 'ok');
  else
    log('settings',
        what +
            ': failed: the store could not be written, or the key\'s root is not spelt out (HKEY_CURRENT_USER, not HKCU)',
        'error');
  readSettings();
}

function setUpSettings() {
  field('reg-key').value = demoKey;
  onClick('reg-read', readSettings);
  onClick('reg-save', () => {
    const name = field('reg-name').value.trim();
    if (!name) return log('settings', 'give the value a name', 'error');
    settingsResult(
        'save ' + name,
        ombrix.tool.setregval(field('reg-key').value, name, field('reg-value').value));
  });
  onClick('reg-remove', () => {
    const name = field('reg-name').value.trim();
    if (!name)
      return log('settings', 'name the value to remove (Remove all takes everything)', 'error');
    settingsResult('remove ' + name, ombrix.tool.removeregval(field('reg-key').value, name));
  });
  onClick(
      'reg-clear',
      () => settingsResult(
          'remove everything', ombrix.tool.removeregval(field('reg-key').value, '')));
  if (native) attempt('settings', readSettings);
}

// --------------------------------------------------------------- programs --

function setUpPrograms() {
  field('cmd-line').value = 'sh -c "echo counting; sleep 2; exit 3"';
  const state = el('cmd-state');
  onClick('cmd-run', () => {
    const line = field('cmd-line').value.trim();
    if (!line) return showState(state, 'type a command line', 'error');
    const begun = Date.now();
    ombrix.process.runcmd(line, field('cmd-dir').value.trim(), (ok, exitCode) => {
      const seconds = ((Date.now() - begun) / 1000).toFixed(1) + ' s';
      if (!ok) {
        showState(
            state, 'could not start: ' + line + ' (no such program, or no such working folder)',
            'error');
        log('programs', 'could not start ' + line, 'error');
      } else {
        const signal = exitCode > 128 ? ' (ended by signal ' + (exitCode - 128) + ')' : '';
        showState(
            state, 'exit code ' + exitCode + signal + ' after ' + seconds,
            exitCode === 0 ? 'ok' : 'error');
        log('programs', line + ' → exit code ' + exitCode + signal,
            exitCode === 0 ? 'ok' : 'error');
      }
    });
    showState(state, 'running ' + line + '...', 'busy');
  });
  onClick('cmd-detach', () => {
    const line = field('cmd-line').value.trim();
    if (!line) return showState(state, 'type a command line', 'error');
    ombrix.app.runapp(line);
    log('programs', 'started detached (runapp does not report whether it started): ' + line);
  });
  onClick('cmd-open', () => {
    const target = field('cmd-line').value.trim() || appFolder;
    if (ombrix.process.execmd(target) === 1)
      log('programs', 'opened ' + target, 'ok');
    else
      log('programs', 'nothing could start or open ' + target, 'error');
  });
}

// -------------------------------------------------------------- clipboard --

function setUpClipboard() {
  onClick('clip-copy', () => {
    const text = field('clip-text').value;
    const html = '<p><b>ombrix demo</b>: ' + escapeHtml(text) + '</p>';
    if (ombrix.tool.setclip(html, text))
      log('clipboard', 'copied: paste it anywhere', 'ok');
    else
      log('clipboard', 'the clipboard refused it (too large?)', 'error');
  });
  el('clip-paste').addEventListener('paste', () => log('clipboard', 'pasted', 'ok'));
}

// -------------------------------------------------------------------- IPC --

/** What createclient and sendipcmsg answer. */
const ipcMeanings = {
  '0': 'done',
  '101': 'no connection yet',
  '201': 'no reader has ever opened that channel: start ombrix-ipc-listen on it first',
  '202': 'the channel is incomplete',
  '302': 'the channel is incomplete',
  '303': 'the channel\'s shared memory could not be mapped',
  '205': 'no reader is listening, or it did not take the message within 3 s',
};

/** @param {number} code */
function ipcText(code) {
  return codeText('status', ipcMeanings, code);
}

/**
 * A tool's command line: from the folder run-demo names, else beside the shell,
 * else from PATH.
 * @param {string} name
 */
function toolCommand(name) {
  if (params.tools) return shellQuote(params.tools + '/' + name);
  const beside = appFolder + '/' + name;
  return native && ombrix.file.exist(beside) ? shellQuote(beside) : name;
}

// clang-format off
/** @param {string} text */
function shellQuote(text) {
  if (/^[A-Za-z0-9._=:@%+\/-]+$/.test(text)) return text;
  return "'" + text.split("'").join("'\\''") + "'";
}
// clang-format on

/** @type {string|null} */
let listening = null;

function showIpcCommands() {
  el('ipc-send-cmd').textContent = toolCommand('ombrix-ipc-send') + ' ' +
      shellQuote(field('ipc-in').value) + ' "Hello from a terminal"';
  el('ipc-listen-cmd').textContent =
      toolCommand('ombrix-ipc-listen') + ' ' + shellQuote(field('ipc-out').value);
}

function listen() {
  const channel = field('ipc-in').value;
  if (!channel || channel.includes('/'))
    return log('ipc', 'a channel is a name without /', 'error');
  if (listening !== null) ombrix.app.closeserver(listening);
  listening = channel;
  const ok = ombrix.app.createserver(
      channel, () => log('ipc', 'listening on ' + channel, 'ok'),
      () => log('ipc', 'channel ' + channel + ' cannot be created', 'error'), (piece) => {
        const item = document.createElement('li');
        item.textContent = new Date().toLocaleTimeString() + '  ' + piece;
        el('ipc-messages').prepend(item);
        log('ipc', 'message on ' + channel + ': ' + piece, 'ok');
      });
  if (!ok) log('ipc', 'the reader could not start', 'error');
}

function setUpIpc() {
  showIpcCommands();
  field('ipc-in').addEventListener('input', showIpcCommands);
  field('ipc-out').addEventListener('input', showIpcCommands);
  onClick('ipc-listen', listen);
  onClick('ipc-stop', () => {
    if (listening === null) return log('ipc', 'not listening', 'error');
    ombrix.app.closeserver(listening);
    log('ipc', 'stopped listening on ' + listening, 'ok');
    listening = null;
  });
  onClick('ipc-send', () => {
    const channel = field('ipc-out').value;
    const connected = ombrix.app.createclient(channel);
    if (connected !== 0)
      return log('ipc', 'connect to ' + channel + ': ' + ipcText(connected), 'error');
    const sent = ombrix.app.sendipcmsg(field('ipc-text').value);
    log('ipc', 'send to ' + channel + ': ' + ipcText(sent), sent === 0 ? 'ok' : 'error');
  });
  if (native) attempt('ipc', listen);
}

// ------------------------------------------------------ dialogs and files --

/** The file the dialogs chose last. */
let chosen = '';

/**
 * Opens a file dialog; `use` gets the chosen paths ("" when cancelled).
 * @param {string} request @param {(paths: string[]) => void} use
 */
function dialog(request, use) {
  cefQuery({
    request: request,
    onSuccess: (answer) => {
      if (answer === '') return log('files', 'cancelled');
      use(answer.split('|'));
    },
    onFailure: (code, message) =>
        log('files', request + ' failed: ' + code + ' ' + message, 'error'),
  });
}

/** @param {string} path */
function choose(path) {
  chosen = path;
  el('files-chosen').textContent = path;
  showState(el('files-chosen'), path, 'ok');
}

function receiptText() {
  return [
    'ombrix demo receipt', new Date().toString(), 'tickets: ' + el('stock').textContent + ' left'
  ].join('\n');
}

function setUpFiles() {
  onClick(
      'dlg-open',
      () => dialog('DialogTest.FileOpen', ([path]) => {
        choose(path);
        ombrix.tool.md5file(
            path,
            (md5) => log('files', path + ': MD5 ' + (md5 || '(unreadable)'), md5 ? 'ok' : 'error'));
      }));
  onClick('dlg-multi', () => dialog('DialogTest.FileOpenMultiple', (paths) => {
                         choose(paths[0]);
                         log('files', paths.length + ' files: ' + paths.join(', '), 'ok');
                       }));
  onClick('dlg-folder', () => dialog('DialogTest.FileOpenFolder', ([path]) => {
                          showState(el('files-chosen'), 'folder ' + path, 'ok');
                          log('files', 'folder ' + path, 'ok');
                        }));
  onClick(
      'dlg-save',
      () => dialog('DialogTest.FileSave:filepath=receipt.txt|filter=*.txt|filter=*', ([path]) => {
        ombrix.file.write(path, receiptText(), (ok) => {
          if (ok) choose(path);
          log('files', (ok ? 'wrote ' : 'could not write ') + path, ok ? 'ok' : 'error');
        });
      }));
  onClick('file-show', () => {
    if (!chosen) return log('files', 'choose or save a file first', 'error');
    if (!ombrix.file.exist(chosen)) return log('files', chosen + ' is gone', 'error');
    if (!ombrix.file.OpenDirAndPosFile(chosen))
      log('files', 'no file manager could be opened', 'error');
  });
  onClick('file-backup', () => {
    if (!chosen) return log('files', 'choose or save a file first', 'error');
    const target = appFolder + '/backup/' + chosen.split('/').pop();
    ombrix.file.copy(
        chosen, target,
        (ok) =>
            log('files', (ok ? 'copied to ' : 'could not copy to ') + target, ok ? 'ok' : 'error'));
  });
  onClick('file-delete', () => {
    if (!chosen) return log('files', 'choose or save a file first', 'error');
    const path = chosen;
    ombrix.file.delete(path, (ok) => {
      log('files', (ok ? 'deleted ' : 'could not delete ') + path, ok ? 'ok' : 'error');
      if (ok) showState(el('files-chosen'), 'deleted ' + path, '');
    });
  });
}

// ------------------------------------------------------------------ about --

function showAbout() {
  const body = /** @type {HTMLTableElement} */ (el('about-table')).tBodies[0];
  /** @type {[string, string][]} */
  const rows = [
    ['application', ombrix.app.getappname()],
    ['folder', appFolder],
    ['run parameter', JSON.stringify(ombrix.app.runparam())],
    ['page', location.href],
    ['dispenser library', String(ombrix.fpj.getappversion())],
  ];
  for (const [name, value] of rows) {
    const row = body.insertRow();
    row.insertCell().textContent = name;
    row.insertCell().textContent = value;
  }
}

// ------------------------------------------------------------------- start --

// Outside ombrix the panels are still set up: their buttons report the missing object.
el('no-shell').hidden = native;
setUpNavigation();
if (native) attempt('about', showAbout);
setUpWindow();
setUpTray();
setUpSettings();
setUpTickets();
setUpDownload();
setUpPrograms();
setUpClipboard();
setUpIpc();
setUpFiles();
