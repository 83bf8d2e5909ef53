// The page that measures the calls; it reports through the "done" handler.
#pragma once

constexpr const char* kBridgePage = R"(<!DOCTYPE html><html><body><script>
const quick = location.hash === '#quick';
const rounds = quick ? 5 : 15, trips = quick ? 50 : 400;
const syncBatch = quick ? 2000 : 40000, plainBatch = syncBatch * 100;
function median(a) { a.sort((x, y) => x - y); return a[a.length >> 1]; }
function perCall(fn, batch) {
  const times = [];
  for (let r = 0; r < rounds; ++r) {
    const start = performance.now();
    for (let i = 0; i < batch; ++i) fn(i);
    times.push((performance.now() - start) * 1000 / batch);
  }
  return median(times);
}
function plain(x) { return x + 1; }
let sink = 0;
const results = {};
results.plain = perCall(i => { sink = plain(sink ^ i); }, plainBatch);
results.sync = perCall(() => { sink ^= ombrix.file.exist('/nonexistent/ombrix-bench'); }, syncBatch);
function chain(start, step, done) {
  let left = trips;
  const begin = performance.now();
  function next() {
    if (left-- === 0) { done((performance.now() - begin) * 1000 / trips); return; }
    step(next);
  }
  next();
}
const path = ombrix.app.apppath() + '/bench-write.txt';
chain(0, next => ombrix.file.write(path, 'short text', next), asyncUs => {
  results.async = asyncUs;
  window.__echo = null;
  chain(0, next => { window.__echo = next; window.webkit.messageHandlers.echo.postMessage(1); },
        messageUs => {
    results.message = messageUs;
    window.webkit.messageHandlers.done.postMessage(JSON.stringify(results));
  });
});
</script></body></html>)";
