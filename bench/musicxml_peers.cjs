// Reads MusicXML files with Verovio and alphaTab (both from npm, installed by musicxml.sh into
// a temporary folder given as the first argument) and prints one JSON line per file: whether
// each imported it, its measure count, the string and fret of every TAB note per part and
// measure (strings counted from the highest, 1), and whether alphaTab drew every track.
//   node bench/musicxml_peers.cjs NODE_MODULES FILE.musicxml...
'use strict';
const fs = require('fs');
const path = require('path');
const modules = process.argv[2];
const verovio = require(path.join(modules, 'verovio'));
const alphaTab = require(path.join(modules, '@coderline/alphatab'));

function withVerovio(tk, file) {
    const result = { ok: false, errors: [], measures: 0, frets: [] };
    try {
        result.ok = tk.loadData(fs.readFileSync(file, 'utf8'));
        const log = tk.getLog();
        result.errors = log.split('\n').filter(line => /error/i.test(line)).slice(0, 3);
        if (!result.ok) return result;
        const mei = tk.getMEI();
        // Per part (MEI staff pairs: notation, TAB) and measure: "string:fret" of TAB notes.
        const measures = mei.split(/<measure[ >]/).slice(1);
        result.measures = measures.length;
        measures.forEach((measure, m) => {
            for (const staff of measure.split(/<staff /).slice(1)) {
                const n = Number((staff.match(/^[^>]*\bn="(\d+)"/) || [])[1]);
                for (const note of staff.match(/<note [^>]*>/g) || []) {
                    const fret = note.match(/tab\.fret="(-?\d+)"/);
                    const course = note.match(/tab\.course="(-?\d+)"/);
                    if (fret || course)
                        result.frets.push([Math.floor((n - 1) / 2), m,
                                           course ? Number(course[1]) : null,
                                           fret ? Number(fret[1]) : null]);
                }
            }
        });
    } catch (e) {
        result.ok = false;
        result.errors.push(String(e));
    }
    return result;
}

function withAlphaTab(file) {
    const result = { ok: false, error: '', measures: 0, frets: [], drawn: 0, tracks: 0,
                     drawErrors: [] };
    let score;
    const settings = new alphaTab.Settings();
    settings.core.engine = 'svg';
    settings.core.enableLazyLoading = false;
    settings.core.logLevel = alphaTab.LogLevel.None;
    try {
        score = alphaTab.importer.ScoreLoader.loadScoreFromBytes(
            new Uint8Array(fs.readFileSync(file)), settings);
        result.ok = true;
    } catch (e) {
        result.error = String(e).slice(0, 200);
        return result;
    }
    result.measures = score.masterBars.length;
    result.tracks = score.tracks.length;
    score.tracks.forEach((track, p) => {
        for (const staff of track.staves) {
            if (!staff.showTablature || staff.showStandardNotation) continue;
            const strings = staff.tuning.length;
            staff.bars.forEach((bar, m) => {
                for (const voice of bar.voices)
                    for (const beat of voice.beats)
                        for (const note of beat.notes)
                            result.frets.push([p, m, strings + 1 - note.string, note.fret]);
            });
        }
    });
    score.tracks.forEach((track, t) => {
        const renderer = new alphaTab.rendering.ScoreRenderer(settings);
        renderer.width = 1200;
        const errors = [];
        let parts = 0;
        renderer.error.on(e => errors.push(String(e).slice(0, 200)));
        renderer.partialRenderFinished.on(() => { parts++; });
        try {
            renderer.renderScore(score, [t]);
        } catch (e) {
            errors.push(String(e).slice(0, 200));
        }
        if (errors.length === 0 && parts > 0) result.drawn++;
        else result.drawErrors.push('track ' + (t + 1) + ': ' + (errors[0] || 'nothing drawn'));
    });
    return result;
}

verovio.module.onRuntimeInitialized = () => {
    verovio.enableLogToBuffer(true);
    const tk = new verovio.toolkit();
    for (const file of process.argv.slice(3)) {
        const line = { file, verovio: withVerovio(tk, file), alphatab: withAlphaTab(file) };
        process.stdout.write(JSON.stringify(line) + '\n');
    }
};
