// Type declarations for pages that run inside ombrix: the global `ombrix`
// object, `window.cefQuery` / `window.cefQueryCancel` and the `windowstate`
// event. docs/api.md explains every function; this file gives their types.
//
// Use it with TypeScript, or with plain JavaScript checked by `// @ts-check`:
//   tsc --strict --noEmit --lib es2020,dom ombrix.d.ts app.ts
//   tsc --strict --noEmit --allowJs --checkJs --lib es2020,dom ombrix.d.ts app.js
// or add `/// <reference path="ombrix.d.ts" />` at the top of a script.
//
// The file declares globals only (no import or export), and keeps to what
// TypeScript 4.8 (Debian 12's node-typescript) understands.

declare namespace Ombrix {
  // ---------------------------------------------------------------- shared --

  /**
   * Identifier of an asynchronous call: a positive integer, unique within the
   * page's web process. `requestfile.abort` takes the one `download` returned.
   */
  type CallId = number;

  // ------------------------------------------------------------------ app --

  /**
   * Status of `createclient`: 0 connected; 201 no reader has created that
   * channel since the system started (or a name that cannot be a channel); 202, 302 the channel is incomplete; 303 its
   * shared block could not be mapped.
   */
  type ConnectStatus = 0|201|202|302|303;

  /**
   * Status of `sendipcmsg` / `IsWindowVisible`: 0 every piece was taken by a
   * reader; 101 no connection (no successful `createclient`); 205 no reader is
   * there, or a piece was not taken within 3 s (the connection stays open).
   */
  type SendStatus = 0|101|205;

  interface App {
    /** Closes the page's channel readers and ends the shell (exit status 0). */
    exitapp(): void;
    /**
     * Starts a program detached (command line split at spaces, double quotes
     * group; no shell). Whether it started is not reported.
     */
    runapp(commandLine: string): void;
    /**
     * Kills (SIGKILL) every process whose executable file name is exactly
     * `exeFileName` ("vlc", not "vlc.exe"). The shell's own file name kills the
     * shell too: that is the real file's name, "ombrix" for an app started
     * through a link, and it kills every app the installed shell runs. true;
     * false when `exeFileName` is not a string.
     */
    killapp(exeFileName: string): boolean;
    /**
     * The name the shell was started by: "ombrix", or "kiosk" for a link or a
     * copy named kiosk (any ".exe" in the name is removed).
     */
    getappname(): string;
    /** Removes the tray icon. undefined (true when the page has no window). */
    hidetray(): boolean|undefined;
    /**
     * Shows the tray icon with the menu "打开" + menuText and "退 出".
     * undefined when sent (true when the page has no window).
     */
    showtray(iconPath: string, menuText: string, tooltip: string): boolean|undefined;
    /**
     * Replaces the tray icon's image. undefined when sent (true when the page
     * has no window).
     */
    modifytrayicon(iconPath: string): boolean|undefined;
    /**
     * Despite its name: sends `text` over the page's IPC connection, exactly as
     * `sendipcmsg` does.
     */
    IsWindowVisible(text: string): SendStatus;
    /**
     * The command-line arguments after the executable, joined by single spaces
     * ("" when started without any). The first one named the manifest.
     */
    runparam(): string;
    /**
     * The app's folder: the one holding the link or copy the shell was started
     * by, without a trailing "/" ("/opt/kiosk").
     */
    apppath(): string;
    /** Connects the page's one IPC connection to a channel (closing an earlier one). */
    createclient(channel: string): ConnectStatus;
    /**
     * Starts reading a channel. true when the reader started, false when it could
     * not. Messages arrive in pieces of at most 1024 bytes (UTF-8), one
     * `onRead` call per piece, in order, not joined.
     */
    createserver(
        channel: string, onSuccess: () => void, onFailure: () => void,
        onRead: (text: string) => void): boolean;
    /** Sends `text` (as UTF-8) as one message over the page's IPC connection. */
    sendipcmsg(text: string): SendStatus;
    /** Stops the page's reader of `channel`. Always true. */
    closeserver(channel: string): boolean;
  }

  // ------------------------------------------------------------------ gui --

  /** A page area, in page pixels from the view's top-left corner. */
  interface CaptionRegion {
    left: number;
    top: number;
    width: number;
    height: number;
  }

  interface Gui {
    /**
     * Declares the page areas that drag the window (replacing earlier ones;
     * [] removes all). A double-click in one maximises or restores.
     */
    setInTitleBar(regions: ReadonlyArray<CaptionRegion>): void;
    /** Resizes the window, keeping its top-left corner (held to the monitor's size). */
    resizeTo(width: number, height: number): void;
    /** Centres the window on the primary screen. */
    movecenter(): void;
    /** true: no resizing by the edges and no maximising; false undoes it. */
    disableResize(disable: boolean): void;
    /** Maximises the window, or restores a maximised one. */
    maxwin(): void;
  }

  // -------------------------------------------------------------- process --

  /**
   * ok: the program ran; exitCode: its exit status (128 + n when signal n ended
   * it). A program that could not start gives (false, 0).
   */
  type ProgramDone = (ok: boolean, exitCode: number) => void;

  interface Process {
    /**
     * Runs a command line (no shell) in `workingDirectory` ("" for the app's
     * folder) and calls back when it has ended.
     */
    runcmd(commandLine: string, workingDirectory: string, callback: ProgramDone): CallId;
    /**
     * Opens a file, folder or address with the desktop's default application:
     * 1 when it was handed over, 0 otherwise.
     */
    execmd(target: string): 0|1;
    /**
     * Runs a command line, waits for it, then `waitMs` milliseconds, then for
     * its first child process; calls back with the command's own exit status.
     */
    runcmdwaitex(commandLine: string, waitMs: number, callback: ProgramDone): CallId;
  }

  // ----------------------------------------------------------------- tool --

  /**
   * One program of `getsetupapp` / `findsetupapp` (JSON.parse their text into
   * `InstalledPrograms`).
   */
  interface InstalledProgram {
    DisplayName: string;
    DisplayVersion: string|null;
    InstallLocation: string|null;
    LocationRoot: string|null;
    /** `findsetupapp` gives "" instead of null. */
    SetupPath: string|null;
    /** `findsetupapp` gives "" instead of null, and no double quotes. */
    UninstallString: string|null;
  }

  /** Installed programs keyed by display name. */
  type InstalledPrograms = {[displayName: string]: InstalledProgram};

  interface Tool {
    /**
     * The file's MD5 as 32 lowercase hex digits; "" for a file that cannot be
     * read (or is no regular file).
     */
    md5file(path: string, callback: (md5: string) => void): CallId;
    /** Every installed program, as the JSON text of `InstalledPrograms`. */
    getsetupapp(callback: (json: string) => void): CallId;
    /**
     * Installed programs whose display name contains `part` (case-sensitive),
     * as the JSON text of `InstalledPrograms`.
     */
    findsetupapp(part: string, callback: (json: string) => void): CallId;
    /**
     * Every value below a settings key as one JSON object's text ("{}" when
     * there is none), e.g. getregval("HKEY_CURRENT_USER\\Software\\Vendor").
     */
    getregval(path: string): string;
    /** Stores a string value; false when it could not be stored. */
    setregval(path: string, name: string, value: string): boolean;
    /**
     * Removes a value or subkey ("" removes everything under the key); false
     * when the store could not be written.
     */
    removeregval(path: string, name: string): boolean;
    /** Puts HTML (and, when given, plain text) on the clipboard. */
    setclip(html: string, text?: string): boolean;
  }

  // ----------------------------------------------------------------- file --

  type FileDone = (ok: boolean) => void;

  interface File {
    /**
     * Copies a file, creating the target's folders; an existing target is
     * replaced only when the copy succeeded.
     */
    copy(source: string, target: string, callback: FileDone): CallId;
    /** Deletes a file. */
    delete(path: string, callback: FileDone): CallId;
    /** Whether the file or folder exists. */
    exist(path: string): boolean;
    /**
     * Shows the file in the desktop's file manager (or opens its folder) without
     * waiting for it: true once the request is handed over.
     */
    OpenDirAndPosFile(path: string): boolean;
    /**
     * Writes `text` as UTF-8; every "\n" becomes "\r\n" and one "\r\n" is added
     * at the end. The folder must exist.
     */
    write(path: string, text: string, callback: FileDone): CallId;
  }

  // ---------------------------------------------------------- requestfile --

  interface RequestFile {
    /**
     * Downloads `url` (plain ASCII, percent-encoded) into the file `path`,
     * creating its folders. Exactly one of onComplete, onError and onAbort is
     * called at the end. onProgress comes at most every 50 ms, and once more
     * with the last figures before the end; `total` is -1 while the length is
     * unknown. The transfer runs off the page's thread.
     */
    download(
        url: string, path: string, onComplete: () => void, onError: () => void, onAbort: () => void,
        onProgress: (received: number, total: number) => void): CallId;
    /** Stops the download `id` (onAbort follows); an unknown or finished id is ignored. */
    abort(id: CallId): void;
  }

  // ------------------------------------------------------------------ fpj --

  /**
   * Result of a dispenser command. 0 success; -100 no port (no `open` since the
   * last `close`); -102, -103, -104, -106, -105 the device answered status 1, 2,
   * 3, 4, 5; -107 another device status; -108 the reply's checksum was wrong;
   * -109 no reply in time, or a reply of the wrong length (also: the port failed
   * to open).
   */
  type FpjCode = 0 | -100 | -102 | -103 | -104 | -105 | -106 | -107 | -108 | -109;

  /**
   * A dispenser call refused because another of the page's dispenser jobs runs
   * or this function still waits for its callback.
   */
  type FpjBusy = -200;

  /** What a device command returns at once: 0 started (the callback follows), or busy. */
  type FpjStart = 0|FpjBusy;

  type FpjDone = (code: FpjCode) => void;

  interface Fpj {
    /** Opens the serial port (e.g. "/dev/ttyUSB0"): 0 open, -100 not. */
    open(port: string): 0 | -100 | FpjBusy;
    /** Closes the port; the next `open` tries again. */
    close(): true|FpjBusy;
    reset(callback: FpjDone): FpjStart;
    /**
     * Dispenses `count` tickets (0 to 65535). `dispensed`: the device's count
     * for 0 and -102 to -107, the requested count for -100, -108 and -109.
     */
    sellbill(count: number, callback: (code: FpjCode, dispensed: number) => void): FpjStart;
    exitbill(callback: FpjDone): FpjStart;
    setholenum(holes: number, callback: FpjDone): FpjStart;
    queryversion(callback: (code: FpjCode, version: string) => void): FpjStart;
    /** 0 when the port is open for reading and writing, else -100 (also once the device has gone). */
    getportstatus(): 0 | -100 | FpjBusy;
    querysensorstatus(callback: FpjDone): FpjStart;
    /** Compensation distance in units of 0.25 mm (16 bits). */
    setrange(distance: number, callback: FpjDone): FpjStart;
    setbillnum(count: number, callback: FpjDone): FpjStart;
    /** Calls back with the ticket count (0 to 32767) or a negative `FpjCode`. */
    querybillnum(callback: (countOrCode: number) => void): FpjStart;
    /** The code of the latest command (0 before any). */
    getlastcode(): FpjCode|FpjBusy;
    cuttertest(callback: FpjDone): FpjStart;
    /** "1.0". */
    getappversion(): string|FpjBusy;
  }

  // ---------------------------------------------------------------- whole --

  interface Api {
    app: App;
    gui: Gui;
    process: Process;
    tool: Tool;
    file: File;
    requestfile: RequestFile;
    fpj: Fpj;
  }

  // ------------------------------------------------------------- cefQuery --

  interface QueryRequest {
    /** e.g. "Window.Maximize", "DialogTest.FileOpen", "WindowTest.Position:0,0,800,600". */
    request: string;
    /** Keep the query open after a success (no built-in request answers twice). */
    persistent?: boolean;
    onSuccess?: (response: string) => void;
    /** -1 "The query has been canceled" when no handler takes the request. */
    onFailure?: (errorCode: number, errorMessage: string) => void;
  }

  /** `detail.state` of the `windowstate` event. */
  type WindowState =
      'windowstate.max' | 'windowstate.min' | 'windowstate.normal' | 'windowstate.show' |
      'windowstate.hide';

  type WindowStateEvent = CustomEvent<{state: WindowState}>;

  /** `detail` of the `printresult` event ("print": {"silent": true}). */
  interface PrintResult {
    /** The CUPS job id; 0 when the print never reached the queue. */
    job: number;
    state: 'completed' | 'stopped' | 'canceled' | 'aborted' | 'failed';
    /** The printer's state reason ("media-empty", "paused"), or why it failed; "" for none. */
    reason: string;
  }

  type PrintResultEvent = CustomEvent<PrintResult>;
}

/**
 * The native object; absent in frames whose origin the manifest's
 * "trusted_origins" does not list.
 */
declare var ombrix: Ombrix.Api;

/** Sends a request to the shell; returns the query's id. */
declare function cefQuery(query: Ombrix.QueryRequest): number;

/** Cancels one of this frame's open queries: true when it was open. */
declare function cefQueryCancel(queryId: number): boolean;

interface WindowEventMap {
  /**
   * Raised at `window` when the main window is shown, hidden, minimised,
   * maximised or restored (and after its size changes).
   */
  windowstate: Ombrix.WindowStateEvent;
}

interface DocumentEventMap {
  /**
   * Raised at the printing frame's `document` for each state of a silent
   * print's job: once it ends, and each time it stops.
   */
  printresult: Ombrix.PrintResultEvent;
}
