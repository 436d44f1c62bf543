// The 3-D replay of a flight (guidew.replay writes it into each page with
// three.js and the flight's data).
//
// Scene axes: x east, y up, z south (three.js is y-up and right-handed), in
// metres from the middle of the flight, the ground grid at the round
// altitude below the lowest point. Each aircraft is drawn enlarged (a
// fighter's 15 m would be a dot over kilometres of path) and turned by its
// body's heading, pitch and roll in that order. The URL's hash selects what
// is shown on opening: #t=12.5&camera=free&play=1 (camera: free, follow
// or follow:N for the N-th aircraft, counted from 0, or in an engagement
// sight:N, behind the N-th on the line of sight, facing the other; the
// default is sight:0 in an engagement and follow:0 otherwise).
(function () {
  "use strict";

  var data = JSON.parse(document.getElementById("flight").textContent);
  var times = data.t;
  var fleet = data.aircraft;
  var last = times.length - 1;
  var deg = Math.PI / 180;

  // --- the flight's bounds and the scales drawn from them ---------------
  var lo = { n: Infinity, e: Infinity, h: Infinity };
  var hi = { n: -Infinity, e: -Infinity, h: -Infinity };
  fleet.forEach(function (a) {
    for (var i = 0; i <= last; i++) {
      lo.n = Math.min(lo.n, a.north[i]); hi.n = Math.max(hi.n, a.north[i]);
      lo.e = Math.min(lo.e, a.east[i]); hi.e = Math.max(hi.e, a.east[i]);
      lo.h = Math.min(lo.h, a.alt[i]); hi.h = Math.max(hi.h, a.alt[i]);
    }
  });
  var extent = Math.max(hi.n - lo.n, hi.e - lo.e, hi.h - lo.h, 500);
  // Grid and altitude ticks: 1, 2 or 5 times a power of ten, some six
  // across the flight.
  function roundStep(x) {
    var p = Math.pow(10, Math.floor(Math.log10(x)));
    return x / p < 2 ? p : x / p < 5 ? 2 * p : 5 * p;
  }
  var step = roundStep(extent / 6);
  var floor = Math.floor(lo.h / step) * step;
  var top = Math.ceil(hi.h / step) * step;
  if (top === floor) top += step;
  var mid = { n: (lo.n + hi.n) / 2, e: (lo.e + hi.e) / 2 };
  var size = 2 * step * Math.ceil((Math.max(hi.n - lo.n, hi.e - lo.e) / 2) / step + 1);
  var length = Math.max(extent * 0.04, 20); // the drawn aircraft's length (m)
  var lettering = Math.max(size, top - floor) * 0.025; // the height of the scale's labels (m)

  function place(a, i, v) {
    return v.set(a.east[i] - mid.e, a.alt[i] - floor, -(a.north[i] - mid.n));
  }

  // --- renderer, camera, light -----------------------------------------
  var view = document.getElementById("view");
  var renderer;
  try {
    renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
  } catch (e) {
    view.innerHTML = '<p id="missing">This browser cannot draw WebGL: the replay needs it.</p>';
    return;
  }
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  renderer.setSize(window.innerWidth, window.innerHeight);
  renderer.setClearColor(0xdfe8f0);
  view.appendChild(renderer.domElement);
  var scene = new THREE.Scene();
  var camera = new THREE.PerspectiveCamera(50, window.innerWidth / window.innerHeight,
                                           length * 0.05, extent * 40 + (top - floor) * 10);
  scene.add(new THREE.HemisphereLight(0xffffff, 0x707070, 0.85));
  var sun = new THREE.DirectionalLight(0xffffff, 0.55);
  sun.position.set(0.3, 1, 0.4);
  scene.add(sun);
  var controls = new THREE.OrbitControls(camera, renderer.domElement);

  // --- ground grid, altitude scale, north ---------------------------------
  var grid = new THREE.GridHelper(size, Math.round(size / step), 0x8899aa, 0xb8c4d0);
  scene.add(grid);

  function label(text, height, colour) {
    var canvas = document.createElement("canvas");
    canvas.width = 512; canvas.height = 96;
    var g = canvas.getContext("2d");
    g.font = "bold 60px sans-serif";
    g.fillStyle = colour || "#334";
    g.textBaseline = "middle";
    g.fillText(text, 8, 48);
    var sprite = new THREE.Sprite(new THREE.SpriteMaterial({
      map: new THREE.CanvasTexture(canvas), depthTest: false, transparent: true }));
    sprite.scale.set(height * 512 / 96, height, 1);
    sprite.center.set(0, 0.5);
    return sprite;
  }

  function line(points, colour, opacity) {
    var geometry = new THREE.BufferGeometry();
    geometry.setAttribute("position", new THREE.BufferAttribute(points, 3));
    return new THREE.Line(geometry, new THREE.LineBasicMaterial({
      color: colour, transparent: opacity < 1, opacity: opacity }));
  }

  var corner = new THREE.Vector3(-size / 2, 0, size / 2);
  scene.add(line(new Float32Array([corner.x, 0, corner.z, corner.x, top - floor, corner.z]),
                 0x334455, 1));
  for (var h = floor; h <= top + 1e-9; h += step) {
    var tick = label(Math.round(h) + " m", lettering);
    tick.position.set(corner.x + step * 0.08, h - floor, corner.z);
    scene.add(tick);
    scene.add(line(new Float32Array([corner.x, h - floor, corner.z,
                                     corner.x + step * 0.06, h - floor, corner.z]), 0x334455, 1));
  }
  var north = label("N", 1.5 * lettering, "#a33");
  north.position.set(0, 0, -size / 2 - step * 0.15);
  scene.add(north);

  // --- each aircraft: its path, shadow, model and drop line ------------
  function model(colour) {
    var body = new THREE.MeshLambertMaterial({ color: colour });
    var light = new THREE.MeshLambertMaterial({ color: 0xf4f4f4 });
    var group = new THREE.Group();
    function part(geometry, material, x, y, z) {
      var mesh = new THREE.Mesh(geometry, material);
      mesh.position.set(x, y, z);
      group.add(mesh);
      return mesh;
    }
    // Nose along -z (north at heading 0), right wing along +x, fin up.
    part(new THREE.CylinderGeometry(0.055, 0.045, 0.8, 12).rotateX(Math.PI / 2), body, 0, 0, 0.05);
    part(new THREE.ConeGeometry(0.055, 0.25, 12).rotateX(-Math.PI / 2), body, 0, 0, -0.475);
    part(new THREE.BoxGeometry(0.9, 0.02, 0.22), body, 0, 0, 0.02);
    part(new THREE.BoxGeometry(0.36, 0.015, 0.1), body, 0, 0, 0.38);
    part(new THREE.BoxGeometry(0.015, 0.2, 0.13), light, 0, 0.1, 0.37);
    // Wing tips in navigation-light colours: red left, green right.
    part(new THREE.BoxGeometry(0.05, 0.03, 0.08), new THREE.MeshLambertMaterial({ color: 0xdd2222 }),
         -0.45, 0, 0.02);
    part(new THREE.BoxGeometry(0.05, 0.03, 0.08), new THREE.MeshLambertMaterial({ color: 0x22aa22 }),
         0.45, 0, 0.02);
    group.scale.setScalar(length);
    return group;
  }

  var drawn = fleet.map(function (a) {
    var points = new Float32Array(3 * (last + 1));
    var shadow = new Float32Array(3 * (last + 1));
    var v = new THREE.Vector3();
    var turns = [];
    var euler = new THREE.Euler();
    for (var i = 0; i <= last; i++) {
      place(a, i, v);
      points.set([v.x, v.y, v.z], 3 * i);
      shadow.set([v.x, 0, v.z], 3 * i);
      // Heading turns about up (clockwise seen from above), then pitch
      // about the right wing, then roll about the nose (right wing down).
      euler.set(a.pitch[i] * deg, -a.heading[i] * deg, -a.roll[i] * deg, "YXZ");
      turns.push(new THREE.Quaternion().setFromEuler(euler));
    }
    var colour = new THREE.Color(a.colour);
    var whole = line(points, colour, 0.3);
    var flown = line(points, colour, 1);
    var drop = line(new Float32Array(6), 0x667788, 0.6);
    var craft = model(colour);
    scene.add(whole, flown, line(shadow, 0x99a5b0, 0.8), drop, craft);
    return { a: a, turns: turns, flown: flown, drop: drop, craft: craft,
             at: new THREE.Vector3() };
  });

  var sight = null;
  if (drawn.length > 1) {
    sight = line(new Float32Array(6), 0xe0a000, 1);
    scene.add(sight);
  }

  // --- time ----------------------------------------------------------
  var t0 = times[0], t1 = times[last];
  var now = t0, playing = false, speed = 1, wallBefore = null;

  function index(t) {  // the last sample at or before t
    var a = 0, b = last;
    while (a < b) {
      var m = (a + b + 1) >> 1;
      if (times[m] <= t) a = m; else b = m - 1;
    }
    return a;
  }

  var before = new THREE.Vector3(), after = new THREE.Vector3();
  function pose(t) {
    var i = index(t), j = Math.min(i + 1, last);
    var f = j > i ? (t - times[i]) / (times[j] - times[i]) : 0;
    drawn.forEach(function (d) {
      place(d.a, i, before);
      place(d.a, j, after);
      d.at.copy(before).lerp(after, f);
      d.craft.position.copy(d.at);
      THREE.Quaternion.slerp(d.turns[i], d.turns[j], d.craft.quaternion, f);
      d.flown.geometry.setDrawRange(0, i + 1);
      var p = d.drop.geometry.attributes.position;
      p.setXYZ(0, d.at.x, d.at.y, d.at.z);
      p.setXYZ(1, d.at.x, 0, d.at.z);
      p.needsUpdate = true;
    });
    if (sight) {
      var s = sight.geometry.attributes.position;
      s.setXYZ(0, drawn[0].at.x, drawn[0].at.y, drawn[0].at.z);
      s.setXYZ(1, drawn[1].at.x, drawn[1].at.y, drawn[1].at.z);
      s.needsUpdate = true;
    }
    return i;
  }

  // --- what is shown beside the view ---------------------------------
  var hud = document.getElementById("hud");
  var clock = document.getElementById("clock");
  var slider = document.getElementById("slider");
  slider.min = t0; slider.max = t1; slider.step = "any";

  function escape(s) {
    return String(s).replace(/[&<>"]/g, function (c) {
      return { "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;" }[c];
    });
  }
  function fixed(x, digits) { return x === null || x === undefined ? "&ndash;" : x.toFixed(digits); }

  function showFigures(i) {
    var rows = drawn.map(function (d) {
      var a = d.a;
      return '<tr><td class="name" style="color:' + a.colour + '">' + escape(a.label) +
        (a.model ? " (" + escape(a.model) + ")" : "") + "</td><td>" + fixed(a.alt[i], 0) +
        " m</td><td>" + fixed(a.speed ? a.speed[i] : null, 0) + " m/s</td><td>" +
        fixed(a.heading[i], 0) + "&deg;</td><td>" + fixed(a.pitch[i], 1) + "&deg;</td><td>" +
        fixed(a.roll[i], 0) + "&deg;</td><td>" + fixed(a.load ? a.load[i] : null, 1) +
        " g</td></tr>";
    });
    var extra = "";
    if (sight) extra = "<div>range " + (drawn[0].at.distanceTo(drawn[1].at) / 1000).toFixed(2) +
      " km (line of sight in amber)</div>";
    if (data.cut_at_s !== null) extra += "<div>the flight's values are not finite from " +
      data.cut_at_s.toFixed(2) + " s: drawn up to there</div>";
    hud.innerHTML = "<div><b>" + escape(data.name) + "</b> " + escape(data.description) +
      "</div><table><tr><th></th><th>altitude</th><th>speed</th><th>heading</th><th>pitch</th>" +
      "<th>bank</th><th>load</th></tr>" + rows.join("") + "</table>" + extra +
      '<div style="color:#667">grid ' + step + " m, at " + floor + " m; aircraft drawn " +
      Math.round(length) + " m long</div>";
  }

  // --- cameras ---------------------------------------------------------
  var cameraChoice = document.getElementById("camera");
  fleet.forEach(function (a, k) {
    cameraChoice.add(new Option("follow " + a.label, "follow:" + k));
  });
  if (sight) drawn.forEach(function (d, k) {
    cameraChoice.add(new Option(d.a.label + " facing " + drawn[1 - k].a.label, "sight:" + k));
  });
  cameraChoice.add(new Option("free", "free"));
  var followed = 0, facing = false;

  function lookFree() {
    followed = -1;
    facing = false;
    controls.target.set(0, (top - floor) / 2, 0);
    // Far enough for the sphere around grid and scale to fit the view's
    // height (the narrower of its angles on a wide window).
    var radius = 0.5 * Math.sqrt(2 * size * size + (top - floor) * (top - floor));
    var reach = radius / Math.sin(camera.fov * deg / 2);
    camera.position.copy(controls.target).add(new THREE.Vector3(-0.55, 0.45, 0.75)
      .normalize().multiplyScalar(reach));
    controls.update();
  }

  // Behind the aircraft along its nose and a little above: a chase view.
  function follow(k) {
    followed = k;
    facing = false;
    var d = drawn[k], i = index(now);
    var heading = d.a.heading[i] * deg, pitch = d.a.pitch[i] * deg;
    var nose = new THREE.Vector3(Math.sin(heading) * Math.cos(pitch), Math.sin(pitch),
                                 -Math.cos(heading) * Math.cos(pitch));
    controls.target.copy(d.at);
    camera.position.copy(d.at).addScaledVector(nose, -6 * length).add(
      new THREE.Vector3(0, 2.5 * length, 0));
    controls.update();
  }

  // Behind aircraft k on the line of sight from the other and a little
  // above, aimed at the other: both stay in view however the two turn about
  // each other (the other in the middle, k at most some 18 deg below it),
  // so it is placed anew at every frame.
  function face(k) {
    followed = k;
    facing = true;
    var d = drawn[k], other = drawn[1 - k].at;
    var away = d.at.clone().sub(other);
    if (away.lengthSq() === 0) away.set(0, 0, 1);
    controls.target.copy(other);
    camera.position.copy(d.at).addScaledVector(away.normalize(), 6 * length).add(
      new THREE.Vector3(0, 2 * length, 0));
    controls.update();
  }

  function chooseCamera(value) {
    var m = /^(follow|sight)(?::(\d+))?$/.exec(value || "");
    var k = m ? Number(m[2] || 0) : -1;
    if (m && m[1] === "sight" && sight && k < 2) {
      cameraChoice.value = "sight:" + k;
      face(k);
    } else if (m && m[1] === "follow" && k < drawn.length) {
      cameraChoice.value = "follow:" + k;
      follow(k);
    } else {
      cameraChoice.value = "free";
      lookFree();
    }
  }

  // --- the frame -----------------------------------------------------
  function show(t) {
    now = Math.min(Math.max(t, t0), t1);
    var target = followed >= 0 ? drawn[followed].at.clone() : null;
    var i = pose(now);
    if (facing) {
      face(followed);
    } else if (target) {  // the camera keeps its place relative to the aircraft
      var moved = drawn[followed].at.clone().sub(target);
      camera.position.add(moved);
      controls.target.add(moved);
    }
    slider.value = now;
    clock.textContent = "t = " + now.toFixed(2) + " s of " + t1.toFixed(2) + " s";
    showFigures(i);
  }

  function setPlaying(on) {
    playing = on && now < t1;
    wallBefore = null;
    document.getElementById("play").innerHTML = playing ? "&#10074;&#10074; pause" : "&#9654; play";
  }

  // Where each aircraft is drawn, for a test to find: in half-heights of
  // the view from its centre, x right and y up, which do not depend on the
  // window's width (the camera's angle of view is its height's).
  function markScreen() {
    document.body.setAttribute("data-time", now.toFixed(3));
    document.body.setAttribute("data-screen", JSON.stringify(drawn.map(function (d) {
      var p = d.at.clone().project(camera);
      return [Number((p.x * camera.aspect).toFixed(4)), Number(p.y.toFixed(4))];
    })));
  }

  function frame(wall) {
    if (playing) {
      if (wallBefore !== null) {
        show(now + (wall - wallBefore) / 1000 * speed);
        if (now >= t1) setPlaying(false);
      }
      wallBefore = wall;
    }
    controls.update();
    renderer.render(scene, camera);
    markScreen();
    requestAnimationFrame(frame);
  }

  slider.addEventListener("input", function () { show(Number(slider.value)); });
  document.getElementById("play").addEventListener("click", function () {
    if (!playing && now >= t1) show(t0);
    setPlaying(!playing);
  });
  document.getElementById("speed").addEventListener("change", function (e) {
    speed = Number(e.target.value);
  });
  cameraChoice.addEventListener("change", function () { chooseCamera(cameraChoice.value); });
  window.addEventListener("keydown", function (e) {
    if (e.code === "Space" && e.target.tagName !== "SELECT") {
      e.preventDefault();
      document.getElementById("play").click();
    }
  });
  window.addEventListener("resize", function () {
    camera.aspect = window.innerWidth / window.innerHeight;
    camera.updateProjectionMatrix();
    renderer.setSize(window.innerWidth, window.innerHeight);
  });

  function fromHash() {
    var asked = {};
    location.hash.replace(/^#/, "").split("&").forEach(function (kv) {
      var p = kv.split("=");
      if (p[0]) asked[decodeURIComponent(p[0])] = decodeURIComponent(p[1] || "");
    });
    var t = Number(asked.t);
    show(isFinite(t) && asked.t !== undefined ? t : t0);
    chooseCamera(asked.camera || (sight ? "sight:0" : "follow:0"));
    setPlaying(asked.play === "1");
  }
  window.addEventListener("hashchange", fromHash);
  fromHash();
  requestAnimationFrame(frame);
})();
