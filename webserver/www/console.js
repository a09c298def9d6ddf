// console.js: the SCPI console page. Sends the typed program message to /api/scpi,
// shows its reply and the errors it left, keeps a short log and a recall history.
'use strict';

(function () {
  const form = document.getElementById('console-form');
  const input = document.getElementById('console-input');
  const sendButton = document.getElementById('console-send');
  const replyEl = document.getElementById('console-reply');
  const errorsEl = document.getElementById('console-errors');
  const logEl = document.getElementById('console-log');
  const history = [];
  let recall = 0;
  const LOG_LINES = 200;

  function log(text) {
    const line = document.createElement('div');
    line.textContent = text;
    logEl.prepend(line);
    while (logEl.childElementCount > LOG_LINES) logEl.lastElementChild.remove();
  }

  async function sendLine() {
    const message = input.value.trim();
    if (message === '') return;
    if (history[history.length - 1] !== message) history.push(message);
    recall = history.length;
    sendButton.disabled = true;
    replyEl.textContent = '';
    errorsEl.textContent = '';
    document.body.dataset.busy = '1';
    const answer = await window.scpiSend('/api/scpi', message);
    replyEl.textContent = answer.reply;
    errorsEl.textContent = (answer.failure ? [answer.failure] : []).concat(answer.errors).join('\n');
    log('> ' + message + (answer.reply ? '\n' + answer.reply : '') +
        (errorsEl.textContent ? '\n! ' + errorsEl.textContent.replace(/\n/g, '\n! ') : ''));
    sendButton.disabled = false;
    delete document.body.dataset.busy;
    input.select();
  }

  form.addEventListener('submit', (event) => {
    event.preventDefault();
    sendLine();
  });
  input.addEventListener('keydown', (event) => {
    if (event.key === 'ArrowUp' && recall > 0) {
      recall -= 1;
      input.value = history[recall];
      event.preventDefault();
    } else if (event.key === 'ArrowDown' && recall < history.length) {
      recall += 1;
      input.value = recall < history.length ? history[recall] : '';
      event.preventDefault();
    }
  });
  input.focus();
})();
