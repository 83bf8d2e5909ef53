// Calls every one of the 51 functions of `ombrix`, `cefQuery`, `cefQueryCancel`
// and the `windowstate` event as a page would, so that `tsc --strict` proves
// docs/ombrix.d.ts types them right. The lines marked @ts-expect-error are the
// mistakes the declarations must catch.

function show(text: string): void {
  document.body.append(text, document.createElement('br'));
}

// ---- app
const folder: string = ombrix.app.apppath();
const name: string = ombrix.app.getappname();
const parameters: string[] = ombrix.app.runparam().split(' ');
ombrix.app.runapp('xdg-open ' + folder);
const killed: boolean = ombrix.app.killapp('old-updater');
const trayShown: boolean|undefined =
    ombrix.app.showtray(folder + '/web/icon.png', name, 'Ticket kiosk');
ombrix.app.modifytrayicon(folder + '/web/busy.png');
ombrix.app.hidetray();
const reading: boolean = ombrix.app.createserver(
    'kiosk-in',
    () => show('reading kiosk-in'),
    () => show('kiosk-in cannot be read'),
    (piece: string) => show('got ' + piece.length + ' characters'),
);
const connected: Ombrix.ConnectStatus = ombrix.app.createclient('kiosk-out');
if (connected === 0) {
  const sent: Ombrix.SendStatus = ombrix.app.sendipcmsg(JSON.stringify({sold: 2}));
  if (sent === 205) show('nobody reads kiosk-out');
  ombrix.app.IsWindowVisible('ping');
}
const closed: boolean = ombrix.app.closeserver('kiosk-in');
document.getElementById('exit')?.addEventListener('click', () => ombrix.app.exitapp());

// ---- gui
ombrix.gui.setInTitleBar([{left: 0, top: 0, width: window.innerWidth - 48, height: 40}]);
ombrix.gui.resizeTo(1024, 768);
ombrix.gui.movecenter();
ombrix.gui.disableResize(true);
ombrix.gui.maxwin();

// ---- process
const run: number = ombrix.process.runcmd('sh -c "exit 3"', '', (ok, exitCode) => {
  show(ok ? 'exit status ' + exitCode : 'could not start');
});
ombrix.process.runcmdwaitex('launcher --wait', 500, (ok: boolean, exitCode: number) => {
  show('launcher: ' + ok + ' ' + exitCode);
});
const opened: 0|1 = ombrix.process.execmd('https://example.com/');

// ---- tool
ombrix.tool.md5file(folder + '/web/index.html', (md5) => show(md5 || 'unreadable'));
ombrix.tool.getsetupapp((json) => {
  const programs: Ombrix.InstalledPrograms = JSON.parse(json);
  for (const program of Object.values(programs)) show(program.DisplayName);
});
ombrix.tool.findsetupapp('Office', (json) => show(json));
const settings: {[name: string]: unknown} = JSON.parse(
    ombrix.tool.getregval('HKEY_CURRENT_USER\\Software\\Vendor\\Kiosk'),
);
const stored: boolean =
    ombrix.tool.setregval('HKEY_CURRENT_USER\\Software\\Vendor\\Kiosk', 'lane', '3');
ombrix.tool.removeregval('HKEY_CURRENT_USER\\Software\\Vendor\\Kiosk', '');
ombrix.tool.setclip('<b>Order 42</b>', 'Order 42');
ombrix.tool.setclip('<i>html only</i>');

// ---- file
ombrix.file.write(folder + '/data/order.txt', 'line 1\nline 2', (ok) => show('written: ' + ok));
ombrix.file.copy(
    folder + '/data/order.txt', folder + '/backup/order.txt', (ok) => show('copied: ' + ok));
ombrix.file.delete(folder + '/data/old.txt', (ok: boolean) => show('deleted: ' + ok));
const there: boolean = ombrix.file.exist(folder + '/data');
ombrix.file.OpenDirAndPosFile(folder + '/data/order.txt');

// ---- requestfile
const download: number = ombrix.requestfile.download(
    'https://example.com/update.zip',
    folder + '/downloads/update.zip',
    () => show('downloaded'),
    () => show('download failed'),
    () => show('download stopped'),
    (received, total) =>
        show(total < 0 ? received + ' bytes' : Math.round((100 * received) / total) + ' %'),
);
ombrix.requestfile.abort(download);

// ---- fpj
if (ombrix.fpj.open('/dev/ttyUSB0') === 0) {
  ombrix.fpj.reset((code) => show('reset ' + code));
  const start: Ombrix.FpjStart = ombrix.fpj.sellbill(2, (code, dispensed) => {
    show(code === 0 ? dispensed + ' tickets' : 'error ' + code + ' after ' + dispensed);
  });
  if (start === -200) show('the dispenser is busy');
  ombrix.fpj.exitbill((code) => show('exit ' + code));
  ombrix.fpj.setholenum(2, (code) => show('holes ' + code));
  ombrix.fpj.queryversion((code, version) => show(version + ' ' + code));
  const port: 0|- 100|- 200 = ombrix.fpj.getportstatus();
  ombrix.fpj.querysensorstatus((code) => show('sensors ' + code));
  ombrix.fpj.setrange(400, (code) => show('range ' + code));
  ombrix.fpj.setbillnum(100, (code) => show('stock set ' + code));
  ombrix.fpj.querybillnum(
      (countOrCode) => show(countOrCode >= 0 ? countOrCode + ' left' : 'error'));
  const last: Ombrix.FpjCode|- 200 = ombrix.fpj.getlastcode();
  ombrix.fpj.cuttertest((code) => show('cutter ' + code));
  const version: string|- 200 = ombrix.fpj.getappversion();
  const done: true|- 200 = ombrix.fpj.close();
}

// ---- cefQuery and the window state event
const query: number = window.cefQuery({
  request: 'DialogTest.FileOpenMultiple',
  onSuccess: (response) => show(response === '' ? 'cancelled' : response.split('|').join(', ')),
  onFailure: (code, message) => show(code + ' ' + message),
});
const cancelled: boolean = window.cefQueryCancel(query);
cefQuery({request: 'Window.Maximize'});
window.addEventListener('windowstate', (event) => {
  const state: Ombrix.WindowState = event.detail.state;
  show(state.replace('windowstate.', ''));
});

// ---- mistakes the declarations catch
// @ts-expect-error a ticket count is a number
ombrix.fpj.sellbill('2', () => {});
// @ts-expect-error write needs its callback
ombrix.file.write(folder + '/x.txt', 'text');
// @ts-expect-error the callback gets a boolean, not a string
ombrix.file.delete(folder + '/x.txt', (ok: string) => ok);
// @ts-expect-error a sale's callback gets numbers
ombrix.fpj.sellbill(1, (code: string) => code);
// @ts-expect-error caption regions are objects, not strings
ombrix.gui.setInTitleBar(['0,0,800,40']);
// @ts-expect-error the state is one of five words
const wrongState: Ombrix.WindowState = 'maximized';
// @ts-expect-error cefQuery takes one object
cefQuery('Window.Hide');
// @ts-expect-error a misspelt function name
ombrix.app.nosuchfunction();

export {};
