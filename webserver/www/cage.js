// cage.js: the front panels of the cage. Reads the installed cards from /api/cage,
// draws one panel per card (relay cards as a grid of channel buttons, the digital card
// as its ports, the attenuator as its setting, the chassis as its scan, trigger and
// fans), and re-reads a slot's panel whenever the chassis announces a change there on
// the /ws event socket, so every panel follows what any client does. Each panel talks
// to the instrument through /api/panel, one SCPI program message at a time.
'use strict';

(function () {
  const PANEL_API = '/api/panel';
  const MAX_QUERY_CHARS = 7800;   // a query stays well under the server's line limit
  const MAX_QUERY_CHANNELS = 3000; // and its reply ("0 " per channel) under the reply limit
  const ROW_COLUMNS = 16;          // a long run of channels wraps every 16 columns
  const RECONNECT_FIRST_MS = 1000;
  const RECONNECT_MAX_MS = 8000;
  // Trigger settings and digital inputs change without a notice; the panels that show
  // them are re-read this often while the page is in view.
  const POLL_MS = 2000;

  const cageEl = document.getElementById('cage');
  const bannerEl = document.getElementById('banner');
  const linkEl = document.getElementById('link-state');
  const panels = new Map(); // slot number -> panel

  // A small element builder: make('div', {class: 'x'}, child, 'text', ...).
  function make(tag, attributes, ...children) {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(attributes || {})) {
      if (value === null || value === undefined || value === false) continue;
      if (name === 'text') node.textContent = value;
      else if (name.startsWith('on')) node.addEventListener(name.slice(2), value);
      else node.setAttribute(name, value === true ? '' : String(value));
    }
    for (const child of children) {
      if (child === null || child === undefined) continue;
      node.append(child instanceof Node ? child : document.createTextNode(String(child)));
    }
    return node;
  }

  function send(message) {
    return window.scpiSend(PANEL_API, message);
  }

  // The problems of one answer as lines of text (empty when it went through cleanly).
  function problems(answer) {
    const lines = answer.errors.slice();
    if (answer.failure) lines.unshift(answer.failure);
    return lines;
  }

  // Runs `work` so that at most one run is in progress: a request that arrives during a
  // run asks for exactly one more run after it, however many requests arrive.
  function serialised(work) {
    let running = false;
    let again = false;
    let idle = Promise.resolve();
    function request() {
      if (running) {
        again = true;
        return idle;
      }
      running = true;
      idle = (async () => {
        do {
          again = false;
          try {
            await work();
          } catch (e) {
            console.error(e);
          }
        } while (again);
        running = false;
      })();
      return idle;
    }
    return request;
  }

  // Channel numbers cut into runs of consecutive numbers.
  function runsOf(channels) {
    const runs = [];
    for (const channel of channels) {
      const last = runs[runs.length - 1];
      if (last && channel === last[last.length - 1] + 1) last.push(channel);
      else runs.push([channel]);
    }
    return runs;
  }

  // One query per group of runs, each "a:b" or "a", joined with commas, so that every
  // query stays under the size limits.
  function queryGroups(slot, runs) {
    const groups = [];
    let items = [];
    let channels = [];
    const flush = () => {
      if (items.length) groups.push({ list: items.join(','), channels });
      items = [];
      channels = [];
    };
    for (const run of runs) {
      for (let start = 0; start < run.length; start += MAX_QUERY_CHANNELS) {
        const part = run.slice(start, start + MAX_QUERY_CHANNELS);
        const item = part.length === 1 ? String(part[0]) : part[0] + ':' + part[part.length - 1];
        const length = ('ROUT:CLOS? (@' + slot + '(').length + items.join(',').length + item.length + 4;
        if (items.length && (length > MAX_QUERY_CHARS || channels.length + part.length > MAX_QUERY_CHANNELS)) {
          flush();
        }
        items.push(item);
        channels = channels.concat(part);
      }
    }
    flush();
    return groups;
  }

  // The frame every panel shares: title, body, an errors line and a status line.
  function frame(entry, kind) {
    const errorsEl = make('div', { class: 'errors', role: 'status' });
    const statusEl = make('div', { class: 'status' });
    const bodyEl = make('div', { class: 'body' });
    const title = entry.slot === 0 ? 'Chassis' : 'Slot ' + entry.slot;
    const el = make('section', { class: 'panel ' + kind, 'data-slot': entry.slot, 'data-model': entry.model },
      make('h3', {}, make('span', { text: entry.model }), make('span', { class: 'slot-no', text: title })),
      bodyEl, make('div', { class: 'foot' }, errorsEl, statusEl));
    if (entry.width > 0) {
      el.style.flex = '0 1 ' + entry.width + 'px';
      el.style.maxWidth = entry.width + 'px';
    }
    if (entry.height > 0) el.style.maxHeight = entry.height + 'px';
    const panel = {
      slot: entry.slot,
      model: entry.model,
      el,
      bodyEl,
      actionErrors: [],
      readErrors: [],
      showErrors() {
        errorsEl.textContent = panel.actionErrors.concat(panel.readErrors).join('\n');
      },
      // Sends a message the user asked for, shows what went wrong, then re-reads.
      async act(message) {
        const answer = await send(message);
        panel.actionErrors = problems(answer);
        panel.showErrors();
        await panel.refresh();
        return answer;
      },
      // A query made while reading the panel; its problems are shown until the next read.
      async ask(message) {
        const answer = await send(message);
        panel.readProblems.push(...problems(answer));
        return answer;
      },
      readProblems: [],
      setStatus(text) {
        statusEl.textContent = text;
      },
    };
    panel.refresh = serialised(async () => {
      panel.readProblems = [];
      await panel.read();
      panel.readErrors = panel.readProblems;
      panel.showErrors();
    });
    return panel;
  }

  // ---- Relay cards --------------------------------------------------------------

  async function relayPanel(entry) {
    const panel = frame(entry, 'relay');
    const buttons = new Map(); // channel -> button
    let groups = [];

    panel.build = async () => {
      // The cage's answer carries the channel numbers; a panel asks only without them.
      const text = (entry.channels !== undefined
        ? entry.channels
        : (await panel.ask('SYST:MOD:CHAN:LIST? ' + entry.slot)).reply).trim();
      const channels = text === '' || text.toUpperCase() === 'NONE'
        ? []
        : text.split(',').map((t) => parseInt(t, 10)).filter((n) => Number.isFinite(n));
      const runs = runsOf(channels);
      const rows = [];
      for (const run of runs) {
        for (let i = 0; i < run.length; i += ROW_COLUMNS) rows.push(run.slice(i, i + ROW_COLUMNS));
      }
      const columns = rows.reduce((widest, row) => Math.max(widest, row.length), 0);
      // One grid: a label and then one button (or an empty cell) per column, each row
      // of the numbering a row of the grid; the number is drawn from the button's data.
      const grid = make('div', { class: 'grid' });
      grid.style.setProperty('--columns', columns);
      const cells = [];
      for (const row of rows) {
        cells.push(make('div', { class: 'label', text: row[0] }));
        for (let c = 0; c < columns; ++c) {
          const channel = row[c];
          if (channel === undefined) {
            cells.push(make('span', { class: 'cell' }));
            continue;
          }
          const button = make('button', {
            type: 'button',
            class: 'ch',
            id: 'ch-' + entry.slot + '-' + channel,
            'data-closed': '0',
            'aria-pressed': 'false',
            // The whole number, and for narrow screens its offset from the row's label.
            'data-n': channel,
            'data-short': channel - row[0],
            title: 'channel ' + channel,
            'aria-label': 'channel ' + channel,
            onclick: () => {
              const closed = button.getAttribute('data-closed') === '1';
              const verb = closed ? 'OPEN' : 'CLOS';
              panel.act(verb + ' (@' + entry.slot + '(' + channel + '))');
            },
          });
          buttons.set(channel, button);
          cells.push(button);
        }
      }
      grid.append(...cells);
      panel.bodyEl.replaceChildren(channels.length ? grid : make('p', { class: 'note', text: 'No channels.' }));
      groups = queryGroups(entry.slot, runs);
      panel.setStatus(channels.length + ' channels');
    };

    panel.read = async () => {
      for (const group of groups) {
        const answer = await panel.ask('ROUT:CLOS? (@' + entry.slot + '(' + group.list + '))');
        if (answer.failure || answer.errors.length) continue;
        const states = answer.reply.split(/[\s,]+/).filter((t) => t !== '');
        if (states.length !== group.channels.length) {
          panel.readProblems.push('state read gave ' + states.length + ' values for ' +
            group.channels.length + ' channels');
          continue;
        }
        group.channels.forEach((channel, i) => {
          const button = buttons.get(channel);
          const closed = states[i] === '1' ? '1' : '0';
          if (button.getAttribute('data-closed') !== closed) {
            button.setAttribute('data-closed', closed);
            button.setAttribute('aria-pressed', closed === '1' ? 'true' : 'false');
          }
        });
      }
    };
    return panel;
  }

  // ---- Attenuator ---------------------------------------------------------------

  async function attenuatorPanel(entry) {
    const panel = frame(entry, 'attenuator');
    const where = '(@' + entry.slot + '(0))';
    const readout = make('span', { class: 'readout', id: 'att-' + entry.slot, text: '–' });
    const input = make('input', {
      type: 'number', min: '0', max: '55.75', step: '0.25', value: '0',
      id: 'att-input-' + entry.slot, 'aria-label': 'attenuation in dB',
    });
    const set = () => {
      const value = Number(input.value);
      if (input.value === '' || !Number.isFinite(value) || value < 0) {
        panel.actionErrors = ['attenuation must be a number of dB, 0 or more'];
        panel.showErrors();
        return;
      }
      panel.act('ATT ' + value + ',' + where);
    };
    panel.build = async () => {
      panel.bodyEl.replaceChildren(
        make('p', {}, 'Attenuation ', readout, ' dB'),
        make('div', { class: 'controls' },
          make('label', { for: input.id, text: 'Set' }), input, ' dB',
          make('button', { type: 'button', id: 'att-set-' + entry.slot, onclick: set, text: 'Set' })),
        make('p', { class: 'note', text: 'Pads of 0.25 to 24 dB; 55.75 dB with every pad in.' }));
      input.addEventListener('keydown', (e) => { if (e.key === 'Enter') set(); });
    };
    panel.read = async () => {
      const answer = await panel.ask('ATT? ' + where);
      if (answer.failure || answer.errors.length) return;
      readout.textContent = answer.reply.trim();
    };
    return panel;
  }

  // ---- Digital I/O card ---------------------------------------------------------

  async function digitalPanel(entry) {
    const panel = frame(entry, 'digital');
    panel.polled = true;
    let ports = [];
    const rows = new Map(); // port -> {direction, value, bits, input}

    function parseByte(text) {
      const t = text.trim();
      const n = /^0x[0-9a-f]{1,2}$/i.test(t) ? parseInt(t.slice(2), 16)
        : /^[0-9]{1,3}$/.test(t) ? parseInt(t, 10) : NaN;
      return n >= 0 && n <= 255 ? n : NaN;
    }

    panel.build = async () => {
      const list = entry.channels !== undefined
        ? entry.channels
        : (await panel.ask('SYST:MOD:CHAN:LIST? ' + entry.slot)).reply;
      ports = list.split(',').map((t) => parseInt(t, 10)).filter((n) => Number.isFinite(n));
      const body = make('tbody');
      for (const port of ports) {
        const at = '(@' + entry.slot + '(' + port + '))';
        const input = make('input', {
          type: 'text', inputmode: 'numeric', placeholder: '0-255', id: 'dio-in-' + entry.slot + '-' + port,
          'aria-label': 'byte for port ' + port,
        });
        const write = () => {
          const value = parseByte(input.value);
          if (Number.isNaN(value)) {
            panel.actionErrors = ['port ' + port + ': a byte is 0 to 255 (or 0x00 to 0xFF)'];
            panel.showErrors();
            return;
          }
          panel.act('DIG:OUTP ' + value + ',' + at);
        };
        input.addEventListener('keydown', (e) => { if (e.key === 'Enter') write(); });
        const direction = make('button', {
          type: 'button', id: 'dio-dir-' + entry.slot + '-' + port, 'data-output': '0', text: '…',
          title: 'switch between input and output',
          onclick: () => {
            const output = direction.getAttribute('data-output') === '1';
            panel.act('DIG:OUTP:STATE ' + (output ? 'OFF' : 'ON') + ',' + at);
          },
        });
        const value = make('span', { class: 'mono', id: 'dio-val-' + entry.slot + '-' + port, text: '–' });
        const bits = make('span', { class: 'bits', 'aria-hidden': 'true' });
        for (let b = 7; b >= 0; --b) bits.append(make('span', { class: 'bit', title: 'bit ' + b }));
        rows.set(port, { direction, value, bits });
        body.append(make('tr', {},
          make('td', { text: port }),
          make('td', {}, direction),
          make('td', {}, value, ' ', bits),
          make('td', {}, input, ' ',
            make('button', { type: 'button', id: 'dio-write-' + entry.slot + '-' + port, onclick: write, text: 'Write' }),
            ' ',
            make('button', { type: 'button', onclick: () => panel.refresh(), text: 'Read' }))));
      }
      panel.bodyEl.replaceChildren(
        make('table', { class: 'ports' },
          make('thead', {}, make('tr', {},
            make('th', { text: 'Port' }), make('th', { text: 'Direction' }),
            make('th', { text: 'Byte' }), make('th', { text: 'Write / read' }))),
          body),
        make('p', { class: 'note', text: 'Write drives an output port; Read reads every port again.' }));
    };

    panel.read = async () => {
      if (!ports.length) return;
      const all = '(@' + entry.slot + '(' + ports[0] + ':' + ports[ports.length - 1] + '))';
      // Directions, modes and every port's byte in one message; when a port cannot be
      // read back (a synchronous output) that message fails and the bytes are asked for
      // the readable ports alone.
      const everyPort = '(@' + ports.map((p) => entry.slot + '(' + p + ')').join(',') + ')';
      const first = await panel.ask('DIG:OUTP:STAT? ' + all + ';:DIG:CONF? ' + all + ';:DIG:INP? ' + everyPort);
      const answer = first.failure || first.errors.length
        ? await panel.ask('DIG:OUTP:STAT? ' + all + ';:DIG:CONF? ' + all)
        : first;
      if (answer.failure || answer.errors.length) return;
      const [stateText = '', configText = '', inputText] = answer.reply.split(';');
      const outputs = stateText.split(',').map((t) => t.trim() === '1');
      const synchronous = configText.split(',').map((t) => t.trim().toUpperCase() === 'SYNC');
      // A synchronous output port cannot be read back; every other port can.
      const readable = ports.filter((port, i) => !(outputs[i] && synchronous[i]));
      ports.forEach((port, i) => {
        const row = rows.get(port);
        const output = outputs[i] ? '1' : '0';
        row.direction.setAttribute('data-output', output);
        row.direction.textContent = (outputs[i] ? 'Output' : 'Input') + (synchronous[i] ? ' (sync)' : '');
        if (!readable.includes(port)) row.value.textContent = 'sync';
      });
      if (!readable.length) return;
      let inputReply = inputText;
      if (inputReply === undefined || readable.length !== ports.length) {
        const inputs = await panel.ask('DIG:INP? (@' + readable.map((p) => entry.slot + '(' + p + ')').join(',') + ')');
        if (inputs.failure || inputs.errors.length) return;
        inputReply = inputs.reply;
      }
      const bytes = inputReply.split(/[\s,]+/).filter((t) => t !== '').map((t) => parseInt(t, 10));
      readable.forEach((port, i) => {
        const row = rows.get(port);
        const byte = bytes[i];
        if (!Number.isFinite(byte)) return;
        row.value.textContent = '0x' + byte.toString(16).toUpperCase().padStart(2, '0') + ' (' + byte + ')';
        row.value.setAttribute('data-value', byte);
        Array.from(row.bits.children).forEach((bit, k) => bit.classList.toggle('on', ((byte >> (7 - k)) & 1) === 1));
      });
    };
    return panel;
  }

  // ---- Chassis ------------------------------------------------------------------

  async function chassisPanel(entry) {
    const panel = frame(entry, 'chassis');
    panel.polled = true;
    const field = (id) => make('td', { id: 'sys-' + id, text: '–' });
    const cells = {
      scan: field('scan'), source: field('source'), count: field('count'), delay: field('delay'),
      outtrig: field('outtrig'), list: field('list'), busfan: field('busfan'), notices: field('notices'),
      temp1: field('temp1'), temp2: field('temp2'), fans: field('fans'), override: field('override'),
    };
    const sourceSelect = make('select', { id: 'sys-source-select', 'aria-label': 'trigger source' },
      ...['IMM', 'BUS', 'EXT', 'HOLD'].map((s) => make('option', { value: s, text: s })));
    const countInput = make('input', { type: 'number', min: '1', value: '1', id: 'sys-count-input', 'aria-label': 'trigger count', style: 'width:7em' });
    const notices = { interlock: null, emergency: false };
    // The setting controls follow the instrument until the user edits them.
    let edited = false;
    sourceSelect.addEventListener('change', () => { edited = true; });
    countInput.addEventListener('input', () => { edited = true; });

    panel.build = async () => {
      const row = (label, cell) => make('tr', {}, make('th', { text: label }), cell);
      panel.bodyEl.replaceChildren(
        make('table', { class: 'info' },
          row('Scan', cells.scan),
          row('Trigger source', cells.source),
          row('Trigger count', cells.count),
          row('Trigger delay (s)', cells.delay),
          row('Output trigger', cells.outtrig),
          row('Scan list', cells.list),
          row('Temperature 1 (°C)', cells.temp1),
          row('Temperature 2 (°C)', cells.temp2),
          row('Chassis fans', cells.fans),
          row('Fan override', cells.override),
          row('Bus-board fan', cells.busfan),
          row('Last notices', cells.notices)),
        make('div', { class: 'controls' },
          make('button', { type: 'button', id: 'sys-init', text: 'Initiate', onclick: () => panel.act('INIT') }),
          make('button', { type: 'button', id: 'sys-trig', text: 'Trigger', onclick: () => panel.act('TRIG') }),
          make('button', { type: 'button', id: 'sys-abort', text: 'Abort', onclick: () => panel.act('ABOR') })),
        make('div', { class: 'controls' },
          make('label', { for: sourceSelect.id, text: 'Source' }), sourceSelect,
          make('label', { for: countInput.id, text: 'Count' }), countInput,
          make('button', {
            type: 'button', id: 'sys-apply', text: 'Apply',
            onclick: () => {
              const count = parseInt(countInput.value, 10);
              if (!(count >= 1)) {
                panel.actionErrors = ['the trigger count is a whole number from 1'];
                panel.showErrors();
                return;
              }
              edited = false;
              panel.act('TRIG:SOUR ' + sourceSelect.value + ';:TRIG:COUN ' + count);
            },
          })),
        make('div', { class: 'controls' },
          'Fan override',
          make('button', { type: 'button', id: 'sys-fan-on', text: 'On', onclick: () => panel.act('DIAG:FAN ON') }),
          make('button', { type: 'button', id: 'sys-fan-off', text: 'Off', onclick: () => panel.act('DIAG:FAN OFF') }),
          make('button', { type: 'button', id: 'sys-open-all', text: 'Open all relays', onclick: () => panel.act('OPEN:ALL') })));
    };

    panel.read = async () => {
      const answer = await panel.ask(
        'STAT:OPER:COND?;:TRIG:SOUR?;COUN?;DEL?;:OUTP:TRIG?;:DIAG:FPGA:READ? #H4004;:DIAG:TEMP?;' +
        ':DIAG:FAN?;:ROUT:SCAN?');
      if (answer.failure || answer.errors.length) return;
      const parts = answer.reply.split(';');
      const [condition, source, count, delay, outputTrigger, fanRegister, temperatures = '', fans = ''] = parts;
      const scanList = parts.slice(8).join(';');
      const [temp1 = '', temp2 = ''] = temperatures.split(',');
      const [override = '', chassisFans = ''] = fans.split(',');
      cells.temp1.textContent = temp1;
      cells.temp2.textContent = temp2;
      cells.fans.textContent = { ON: 'forced on', AUTO: 'automatic', NONE: 'not set yet' }[chassisFans] || chassisFans;
      cells.override.textContent = override === '1' ? 'on' : 'off';
      const running = (parseInt(condition, 10) & 32) !== 0;
      cells.scan.textContent = running ? 'running' : 'idle';
      cells.scan.className = running ? 'state-on' : 'state-off';
      cells.source.textContent = source || '';
      cells.count.textContent = count || '';
      cells.delay.textContent = delay || '';
      cells.outtrig.textContent = outputTrigger === '1' ? 'on' : 'off';
      cells.list.textContent = scanList === '' ? '(none)'
        : scanList.length > 200 ? scanList.slice(0, 200) + '…' : scanList;
      cells.list.title = scanList;
      const register = parseInt((fanRegister || '').replace(/^#H/i, ''), 16);
      cells.busfan.textContent = Number.isFinite(register) ? ((register & 1) ? 'on' : 'off') : '?';
      if (!edited && source) sourceSelect.value = source;
      if (!edited && count) countInput.value = count;
    };

    panel.notice = (notice) => {
      if (notice.interlock) notices.interlock = notice.interlock;
      if (notice.emergency) notices.emergency = true;
      const text = [];
      if (notices.interlock) text.push('interlock ' + notices.interlock);
      if (notices.emergency) text.push('emergency stop');
      cells.notices.textContent = text.length ? text.join(', ') : '–';
      cells.notices.className = notices.emergency || notices.interlock === 'broken' ? 'state-bad' : '';
    };
    return panel;
  }

  // ---- A card without a panel ---------------------------------------------------

  function emptyPanel(entry) {
    const panel = frame(entry, 'nopanel');
    panel.bodyEl.textContent = 'no panel';
    panel.build = async () => {};
    panel.read = async () => {};
    return panel;
  }

  function panelFor(entry) {
    if (!entry.panel) return emptyPanel(entry);
    if (entry.slot === 0) return chassisPanel(entry);
    if (/^SM-DIO/i.test(entry.model)) return digitalPanel(entry);
    if (/^SM-AT/i.test(entry.model)) return attenuatorPanel(entry);
    return relayPanel(entry);
  }

  // ---- Event notices ------------------------------------------------------------

  function refreshAll() {
    for (const panel of panels.values()) panel.refresh();
  }

  function onNotice(notice) {
    const slots = Array.isArray(notice.slots) ? notice.slots : [];
    for (const slot of slots) {
      const panel = panels.get(Number(slot));
      if (panel) panel.refresh();
    }
    const chassis = panels.get(0);
    if (chassis && (notice.scan || notice.interlock || notice.emergency)) {
      chassis.notice(notice);
      chassis.refresh();
    }
    if (notice.relays && slots.length === 0) refreshAll();
    if (notice.emergency) bannerEl.textContent = 'Emergency stop reported by the chassis.';
    else if (notice.interlock === 'broken') bannerEl.textContent = 'Interlock broken.';
    else if (notice.interlock === 'restored') bannerEl.textContent = '';
  }

  let reconnectMs = RECONNECT_FIRST_MS;
  let everOpen = false;
  function connect() {
    const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
    let socket;
    try {
      socket = new WebSocket(scheme + location.host + '/ws');
    } catch (e) {
      setTimeout(connect, reconnectMs);
      return;
    }
    socket.onopen = () => {
      reconnectMs = RECONNECT_FIRST_MS;
      document.body.dataset.ws = 'open';
      linkEl.textContent = 'live';
      // Notices may have been missed while the socket was down.
      if (everOpen) refreshAll();
      everOpen = true;
    };
    socket.onmessage = (event) => {
      let notice;
      try {
        notice = JSON.parse(event.data);
      } catch (e) {
        return;
      }
      if (notice && typeof notice === 'object') onNotice(notice);
    };
    socket.onclose = () => {
      document.body.dataset.ws = 'closed';
      linkEl.textContent = 'reconnecting…';
      setTimeout(connect, reconnectMs);
      reconnectMs = Math.min(reconnectMs * 2, RECONNECT_MAX_MS);
    };
  }

  // ---- Start --------------------------------------------------------------------

  async function start() {
    let cage;
    try {
      const response = await fetch('/api/cage', { cache: 'no-store' });
      cage = await response.json();
    } catch (e) {
      bannerEl.textContent = 'Cannot read the cage from the instrument.';
      return;
    }
    const entries = (cage.slots || []).slice().sort((a, b) => a.slot - b.slot);
    const built = [];
    for (const entry of entries) {
      const panel = await panelFor(entry);
      panels.set(entry.slot, panel);
      cageEl.append(panel.el);
    }
    connect();
    for (const panel of panels.values()) {
      built.push((async () => {
        panel.readProblems = [];
        await panel.build();
        panel.actionErrors = panel.readProblems;
        await panel.refresh();
      })());
    }
    await Promise.all(built);
    setInterval(() => {
      if (document.visibilityState !== 'visible') return;
      for (const panel of panels.values()) if (panel.polled) panel.refresh();
    }, POLL_MS);
    window.cageDrawnAt = performance.now();
    performance.mark('cage-drawn');
    document.body.dataset.drawn = '1';
  }

  start();
})();
