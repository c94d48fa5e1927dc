// Per-pixel Phong lighting of surfaces with the fixed-function lights 0-3 (position,
// attenuation, spot cone and colours as the view sets them) and colour material: the colour
// given with glColor is the ambient and diffuse material, the specular colour and shininess
// come from the front material. Exponential fog (gl_Fog) as a depth cue.
#version 120

varying vec3 eyePosition;
varying vec3 eyeNormal;
varying float fogDistance;

// The fog starts this far from the eye (model units: tenths of an angstrom): a molecule seen
// from the near camera (266) stays clear but for its far back, one seen from the far camera
// (866) recedes with depth; the fog never hides more than fogMaxShare of a surface.
const float fogStart = 400.0;
const float fogMaxShare = 0.5;

// The strength of light i where it falls (ambient and diffuse, attenuated), for the exposure.
float lightStrength(int i, float attenuation)
{
    vec3 s = (gl_LightSource[i].ambient.rgb + gl_LightSource[i].diffuse.rgb) * attenuation;
    return max(s.r, max(s.g, s.b));
}

vec3 lightContribution(int i, vec3 N, vec3 V, vec3 material, inout float strength)
{
    vec4 position = gl_LightSource[i].position;
    vec3 L;
    float attenuation = 1.0;
    if (position.w == 0.0) {
        L = normalize(position.xyz);
    } else {
        vec3 toLight = position.xyz / position.w - eyePosition;
        float d = length(toLight);
        L = toLight / max(d, 1e-6);
        attenuation = 1.0 / max(gl_LightSource[i].constantAttenuation + gl_LightSource[i].linearAttenuation * d +
                                    gl_LightSource[i].quadraticAttenuation * d * d,
                                1e-6);
        if (gl_LightSource[i].spotCutoff <= 90.0) {
            float spot = dot(-L, normalize(gl_LightSource[i].spotDirection));
            attenuation *= spot < gl_LightSource[i].spotCosCutoff ? 0.0
                                                                  : pow(max(spot, 0.0), gl_LightSource[i].spotExponent);
        }
    }
    strength += lightStrength(i, attenuation);
    float lambert = max(dot(N, L), 0.0);
    return (gl_LightSource[i].ambient.rgb * material + gl_LightSource[i].diffuse.rgb * material * lambert) * attenuation;
}

vec3 highlight(int i, vec3 N, vec3 V)
{
    vec4 position = gl_LightSource[i].position;
    vec3 L = position.w == 0.0 ? normalize(position.xyz) : normalize(position.xyz / position.w - eyePosition);
    if (dot(N, L) <= 0.0) return vec3(0.0);
    float shininess = max(gl_FrontMaterial.shininess, 1.0);
    return gl_LightSource[i].specular.rgb * gl_FrontMaterial.specular.rgb * pow(max(dot(reflect(-L, N), V), 0.0), shininess);
}

void main()
{
    vec3 N = normalize(eyeNormal);
    if (!gl_FrontFacing) N = -N;
    vec3 V = normalize(-eyePosition);
    vec3 material = gl_Color.rgb;

    // The lights together may be several times as strong as one: their sum is scaled so that a
    // surface facing all of them shows its own colour rather than white (the background is white,
    // and a grey node must stay grey). Highlights are added after.
    vec3 lit = gl_LightModel.ambient.rgb * material;
    float strength = max(gl_LightModel.ambient.r, max(gl_LightModel.ambient.g, gl_LightModel.ambient.b));
    for (int i = 0; i < 4; ++i) lit += lightContribution(i, N, V, material, strength);
    vec3 colour = gl_FrontMaterial.emission.rgb + lit / max(strength, 1.0);
    for (int i = 0; i < 4; ++i) colour += highlight(i, N, V) * 0.5;

    float fog = clamp(exp(-gl_Fog.density * max(fogDistance - fogStart, 0.0)), 0.0, 1.0);
    colour = mix(gl_Fog.color.rgb, colour, 1.0 - fogMaxShare * (1.0 - fog));
    gl_FragColor = vec4(colour, gl_Color.a);
}
