#!/usr/bin/env bash
# Where the preview of a long document lands: the real tessivo binary under
# Xvfb with openbox, a fresh home whose only document is a generated long
# Markdown file (sections of paragraphs, lists, quotes, code and tables, a
# link near the top to a heading in the middle), open in split mode. Keys and
# clicks go through X (xdotool); where the preview sits is read from the
# page through the web engine's remote debugging port.
#
#   bench/preview-place.sh [size: 1M|5M] [build-dir]
#
# Reports, each after ONE press or click: End, Page Up, Home, Page Down,
# the link; then five letters typed at the end of the editor with the
# preview at its end (the preview must stay at its end, the letters in
# view); then a change at the top with the preview in the middle (the first
# block in view must keep its offset).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/lib/app-under-x.sh"
bench_session_bus "$@"

SIZE=${1:-1M}
BUILD=${2:-build}
APP="$BUILD/Tessivo/tessivo"
bench_require "$APP" Xvfb openbox xdotool python3

bench_work_dir

HOME_DIR="$WORK/home"
python3 - "$WORK/body.md" "$SIZE" <<'PY'
import sys
path, size = sys.argv[1], sys.argv[2]
target = 5_000_000 if size.upper().startswith("5M") else 1_000_000
parts, n, i = ["# A long document\n\nJump to [the target](#target).\n\n"], 0, 0
while n < target:
    if i == target // 330:
        parts.append('<h2 id="target">The target</h2>\n\n')
    block = [
        f"## Section {i}\n\n",
        f"Some *words* of a paragraph that goes on for a while, with `code` and a [link](https://example.com/{i}). " * 3 + "\n\n",
        f"- item one of list {i}\n- item **two**\n- [ ] a task\n\n",
        f"> A quotation number {i}, quoted.\n\n",
        "```\nlet x = 1;\n```\n\n",
        "| a | b |\n|---|---|\n| 1 | 2 |\n\n",
    ][i % 6]
    parts.append(block); n += len(block); i += 1
body = "".join(parts) + "The end."
open(path, "w").write(body)
print(f"document: {len(body)} characters, {i} blocks, the last section {i - 1 - (i - 1) % 6}", file=sys.stderr)
PY
bench_seed_home "$HOME_DIR" Long split "$WORK/body.md"

bench_start_x 300

PORT=$((20000 + RANDOM % 20000))
QTWEBENGINE_REMOTE_DEBUGGING=$PORT bench_launch "$HOME_DIR" "$WORK/app.log" "$APP"
bench_wait_window "$WORK/app.log"
xdotool windowactivate --sync "$window" 2>/dev/null || true

# Runs a script in the preview page and prints its value (JSON).
page() {
    python3 - "$PORT" "$1" <<'PY'
import base64, json, os, socket, struct, sys, urllib.request
port, expression = int(sys.argv[1]), sys.argv[2]
targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json"))
target = next(t for t in targets if t.get("type") == "page" and "index.html" in t.get("url", ""))
path = target["webSocketDebuggerUrl"].split(str(port), 1)[1]
s = socket.create_connection(("127.0.0.1", port))
key = base64.b64encode(os.urandom(16)).decode()
s.sendall(f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n".encode())
buffer = b""
while b"\r\n\r\n" not in buffer:
    buffer += s.recv(4096)
buffer = buffer.split(b"\r\n\r\n", 1)[1]
def recv(n):
    global buffer
    while len(buffer) < n:
        buffer += s.recv(65536)
    out, buffer = buffer[:n], buffer[n:]
    return out
message = json.dumps({"id": 1, "method": "Runtime.evaluate",
                      "params": {"expression": expression, "returnByValue": True}}).encode()
mask = os.urandom(4)
header = bytes([0x81]) + (bytes([0x80 | len(message)]) if len(message) < 126 else
                          bytes([0x80 | 126]) + struct.pack(">H", len(message)) if len(message) < 65536 else
                          bytes([0x80 | 127]) + struct.pack(">Q", len(message)))
s.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(message)))
while True:
    first, second = recv(2)
    length = second & 0x7F
    if length == 126:
        length = struct.unpack(">H", recv(2))[0]
    elif length == 127:
        length = struct.unpack(">Q", recv(8))[0]
    data = recv(length)
    if first & 0x0F == 1:
        reply = json.loads(data)
        if reply.get("id") == 1:
            print(json.dumps(reply["result"]["result"].get("value")))
            break
PY
}

# Where the preview is: at its end or not, the last section heading at or
# above the top of the view, and the last block's text.
STATE='(function(){var s=document.scrollingElement;var hs=document.querySelectorAll("#content h2");
var lo=0,hi=hs.length;while(lo<hi){var m=(lo+hi)>>1;if(hs[m].getBoundingClientRect().top<=1)lo=m+1;else hi=m;}
var last=document.getElementById("content").lastElementChild;
return {atEnd: s.scrollTop+s.clientHeight>=s.scrollHeight-1, y: Math.round(s.scrollTop),
 section: lo>0?hs[lo-1].textContent:"(top)", last: last?last.textContent.slice(-40):""};})()'

for _ in $(seq 1800); do
    [ "$(page 'document.getElementById("content").lastElementChild ? document.getElementById("content").lastElementChild.textContent : ""' 2>/dev/null)" = '"The end."' ] && break
    sleep 0.1
done
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
# The preview: the right part of the detail pane in split mode.
PX=$((X + WIDTH * 85 / 100))
PY=$((Y + HEIGHT / 2))
EX=$((X + WIDTH * 45 / 100))

press() { # key; then the state once the page has had time to settle
    xdotool mousemove "$PX" "$PY" click 1
    xdotool key "$1"
    sleep 1.5
    echo "after one $1: $(page "$STATE")"
}
press ctrl+End
press Prior
press ctrl+Home
press Next

# The link near the top, clicked where it shows.
page 'window.scrollTo(0,0)' >/dev/null
sleep 0.5
page 'document.addEventListener("mousemove",function(e){window.__offset=[e.screenX-e.clientX,e.screenY-e.clientY];},{once:true})' >/dev/null
xdotool mousemove "$PX" "$PY"; sleep 0.2; xdotool mousemove $((PX + 3)) $((PY + 3)); sleep 0.3
read -r lx ly < <(page '(function(){var r=document.querySelector("a[href=\"#target\"]").getBoundingClientRect();
  return (window.__offset[0]+r.left+r.width/2)+" "+(window.__offset[1]+r.top+r.height/2);})()' | tr -d '"')
xdotool mousemove "${lx%.*}" "${ly%.*}" click 1
sleep 1.5
echo "after one click on the link: target at $(page 'Math.round(document.getElementById("target").getBoundingClientRect().top) || 0') px from the top of the view"

# Typing at the end of the editor, the preview at its end.
xdotool mousemove "$PX" "$PY" click 1
xdotool key ctrl+End
sleep 1.5
xdotool mousemove "$EX" "$PY" click 1
xdotool key ctrl+End Return Return
sleep 1
for letter in T y p e d; do
    xdotool type --delay 0 "$letter"
    sleep 0.8
    echo "after typing '$letter' at the end: $(page "$STATE")"
done

# A change at the top with the preview in the middle.
page 'window.scrollTo(0, document.scrollingElement.scrollHeight * 0.4)' >/dev/null
sleep 1.5
before=$(page '(function(){var c=document.getElementById("content").children;for(var i=0;i<c.length;i++){var r=c[i].getBoundingClientRect();if(r.bottom>0){window.__first=c[i];return Math.round(r.top*10)/10 + 0;}}})()')
xdotool mousemove "$EX" "$PY" click 1
xdotool key ctrl+Home
xdotool type --delay 0 "Top "
sleep 1.5
after=$(page 'Math.round(window.__first.getBoundingClientRect().top*10)/10 + 0')
echo "first block in view, a change at the top: at $before px before, $after px after"
