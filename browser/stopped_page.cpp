#include "browser/stopped_page.h"

namespace ombrix {

QByteArray StoppedPageHtml(int delay_ms) {
  const QByteArray seconds = QByteArray::number((delay_ms + 999) / 1000);
  return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Application stopped</title>"
         "<style>body{margin:0;height:100vh;display:flex;align-items:center;"
         "justify-content:center;background:#f4f4f4;color:#333;font:20px sans-serif;"
         "text-align:center}</style></head><body><div>"
         "<p>应用程序已停止运行，<span id=\"s\">" +
         seconds +
         "</span> 秒后重新启动。</p>"
         "<p>The application stopped. It starts again in <span id=\"t\">" +
         seconds +
         "</span> s.</p></div><script>"
         "var left=" +
         seconds +
         ";setInterval(function(){if(left>0)left--;"
         "document.getElementById('s').textContent=left;"
         "document.getElementById('t').textContent=left;},1000);"
         "</script></body></html>";
}

}  // namespace ombrix
