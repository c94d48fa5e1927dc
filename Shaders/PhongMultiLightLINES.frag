// Lines lit with the fixed-function lights 0-3 and colour material, the normal facing the
// viewer; a soft wrap-around term keeps lines lit from the side visible. Exponential fog as
// for surfaces.
#version 120

varying vec3 eyePosition;
varying float fogDistance;

const float fogStart = 400.0;
const float fogMaxShare = 0.5;

void main()
{
    vec3 V = normalize(-eyePosition);
    vec3 N = V;
    vec3 material = gl_Color.rgb;
    // As for surfaces, the lights' sum is scaled so that a line facing all of them shows its own
    // colour.
    vec3 lit = gl_LightModel.ambient.rgb * material;
    float strength = max(gl_LightModel.ambient.r, max(gl_LightModel.ambient.g, gl_LightModel.ambient.b));
    for (int i = 0; i < 4; ++i) {
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
        }
        float wrap = 0.5 + 0.5 * max(dot(N, L), 0.0);
        lit += (gl_LightSource[i].ambient.rgb * material + gl_LightSource[i].diffuse.rgb * material * wrap) * attenuation;
        vec3 s = (gl_LightSource[i].ambient.rgb + gl_LightSource[i].diffuse.rgb) * attenuation;
        strength += max(s.r, max(s.g, s.b));
    }
    vec3 colour = gl_FrontMaterial.emission.rgb + lit / max(strength, 1.0);
    float fog = clamp(exp(-gl_Fog.density * max(fogDistance - fogStart, 0.0)), 0.0, 1.0);
    colour = mix(gl_Fog.color.rgb, colour, 1.0 - fogMaxShare * (1.0 - fog));
    gl_FragColor = vec4(colour, gl_Color.a);
}
