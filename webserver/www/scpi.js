// scpi.js: sends one SCPI program message to the instrument's web server and hands
// back its answer. Shared by the front panels (/api/panel) and the console (/api/scpi).
// The answer is always an object {reply, errors, failure}: failure is a text when the
// server refused the message or could not be reached, else empty.
'use strict';

window.scpiSend = async function scpiSend(path, message) {
  let response;
  try {
    response = await fetch(path, {
      method: 'POST',
      headers: { 'Content-Type': 'text/plain' },
      body: message,
      cache: 'no-store',
    });
  } catch (e) {
    return { reply: '', errors: [], failure: 'no answer from the instrument' };
  }
  let data = null;
  try {
    data = await response.json();
  } catch (e) {
    data = null;
  }
  if (!response.ok || data === null) {
    const why = data && data.error ? data.error : 'HTTP ' + response.status;
    return { reply: '', errors: [], failure: why };
  }
  return {
    reply: typeof data.reply === 'string' ? data.reply : '',
    errors: Array.isArray(data.errors) ? data.errors.map(String) : [],
    failure: '',
  };
};
